// The time stamp of a log line follows the regional long time format, without Qt's time zone.

#include "console/time_text.h"

#include <gtest/gtest.h>

namespace kv::console {
namespace {

struct FormatRow {
    const char* name;
    const char* locale;
    const char* expected; // 14:05:09
};

class LongTimeText : public ::testing::TestWithParam<FormatRow> {};

TEST_P(LongTimeText, HasNoTimeZoneAndNoStrayBlanks) {
    const QLocale locale(QString::fromLatin1(GetParam().locale));
    EXPECT_FALSE(longTimeFormat(locale).contains(u't')) << longTimeFormat(locale).toStdString();
    EXPECT_EQ(longTimeText(QTime(14, 5, 9), locale), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Locales, LongTimeText,
                         ::testing::Values(FormatRow{"turkish", "tr_TR", "14:05:09"},
                                           FormatRow{"german", "de_DE", "14:05:09"},
                                           FormatRow{"english", "en_US", "2:05:09 PM"},
                                           FormatRow{"c", "C", "14:05:09"}),
                         [](const auto& row) { return std::string(row.param.name); });

// The zone goes wherever it stands; literal text in quotes keeps its letter t.
TEST(WithoutTimeZone, DropsOnlyTheZone) {
    EXPECT_EQ(withoutTimeZone(QStringLiteral("HH:mm:ss t")), QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(withoutTimeZone(QStringLiteral("t HH:mm:ss")), QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(withoutTimeZone(QStringLiteral("h:mm:ss tttt AP")), QStringLiteral("h:mm:ss AP"));
    EXPECT_EQ(withoutTimeZone(QStringLiteral("HH 'text' mm t")), QStringLiteral("HH 'text' mm"));
}

} // namespace
} // namespace kv::console
