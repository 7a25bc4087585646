// What the console says after the start-up connect about the last check that found the
// database clean.

#include "console/health.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;
using kv::console::healthReport;
using kv::console::lastKnownGoodDate;

constexpr year_month_day Today{year(2024), month(5), day(12)};

TEST(Health, LastKnownGoodDateReadsTheServersText) {
    EXPECT_EQ(lastKnownGoodDate("2024-05-10 14:05:09.123"),
              (year_month_day{year(2024), month(5), day(10)}));
    EXPECT_EQ(lastKnownGoodDate("2024-05-10"), (year_month_day{year(2024), month(5), day(10)}));
    // Never checked, and texts that are no time.
    EXPECT_FALSE(lastKnownGoodDate("1900-01-01 00:00:00.000"));
    EXPECT_FALSE(lastKnownGoodDate(""));
    EXPECT_FALSE(lastKnownGoodDate("2024-13-01 00:00:00.000"));
    EXPECT_FALSE(lastKnownGoodDate("2024-02-30 00:00:00.000"));
    EXPECT_FALSE(lastKnownGoodDate("24-05-10"));
    EXPECT_FALSE(lastKnownGoodDate("2024/05/10 00:00:00"));
}

// Thirty days is still fine; the thirty-first is a warning, as is a database never found clean
// and a time the server would not give.
TEST(Health, WarnsAfterThirtyDaysAndWhenUnknown) {
    const auto today = healthReport("2024-05-12 08:00:00.000", Today);
    EXPECT_FALSE(today.warning);
    EXPECT_EQ(today.logLine, "Son sağlam veritabanı kontrolü: 12.05.2024 (bugün).");
    EXPECT_EQ(today.statusText, "Son sağlam kontrol: 12.05.2024 (bugün).");

    const auto thirty = healthReport("2024-04-12 23:59:59.997", Today);
    EXPECT_FALSE(thirty.warning);
    EXPECT_EQ(thirty.logLine, "Son sağlam veritabanı kontrolü: 12.04.2024 (30 gün önce).");

    const auto old = healthReport("2024-04-11 10:00:00.000", Today);
    EXPECT_TRUE(old.warning);
    EXPECT_EQ(old.logLine,
              "Uyarı: Son sağlam veritabanı kontrolü 31 gün önce (11.04.2024). Onar ile kontrol "
              "edin.");
    EXPECT_EQ(old.statusText, "Uyarı: sağlam kontrol 31 gün önce. Onar'a basın.");

    const auto never = healthReport("1900-01-01 00:00:00.000", Today);
    EXPECT_TRUE(never.warning);
    EXPECT_EQ(never.logLine, "Uyarı: Veritabanının sağlam bulunduğu bir kontrol kaydı yok. Onar "
                             "ile kontrol edin.");
    const auto unread = healthReport(std::nullopt, Today);
    EXPECT_TRUE(unread.warning);
    EXPECT_EQ(unread.logLine,
              "Uyarı: Son veritabanı kontrolünün tarihi okunamadı. Onar ile kontrol edin.");

    // A server clock ahead of this one: the date, no count of days.
    const auto ahead = healthReport("2024-05-14 10:00:00.000", Today);
    EXPECT_FALSE(ahead.warning);
    EXPECT_EQ(ahead.logLine, "Son sağlam veritabanı kontrolü: 14.05.2024.");
}

} // namespace
