#include "console/time_text.h"

namespace kv::console {

QString withoutTimeZone(const QString& format) {
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    // Dropping the zone leaves a doubled or trailing blank behind ("HH:mm:ss t" -> "HH:mm:ss ").
    while (result.contains(QStringLiteral("  ")))
        result.replace(QStringLiteral("  "), QStringLiteral(" "));
    return result.trimmed();
}

QString longTimeFormat(const QLocale& locale) {
    return withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

std::string longTimeText(const QTime& time, const QLocale& locale) {
    return locale.toString(time, longTimeFormat(locale)).toStdString();
}

} // namespace kv::console
