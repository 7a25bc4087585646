#include "console/health.h"

#include <cstdio>

namespace kv::console {

namespace {

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "12.05.2024", as Turkish dates are written.
std::string dateText(std::chrono::year_month_day date) {
    char text[40];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d", static_cast<unsigned>(date.day()),
                  static_cast<unsigned>(date.month()), static_cast<int>(date.year()));
    return text;
}

} // namespace

std::optional<std::chrono::year_month_day> lastKnownGoodDate(std::string_view value) {
    // "YYYY-MM-DD" and anything after it (the time of day is not needed).
    const auto year = digits(value, 0, 4);
    const auto month = digits(value, 5, 2);
    const auto day = digits(value, 8, 2);
    if (!year || !month || !day || value[4] != '-' || value[7] != '-')
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    // 1900-01-01 is what the server keeps when no check ever found the database clean.
    if (!date.ok() || *year <= 1900)
        return std::nullopt;
    return date;
}

HealthReport healthReport(std::optional<std::string_view> lastKnownGood,
                          std::chrono::year_month_day today) {
    HealthReport report;
    const auto date = lastKnownGood ? lastKnownGoodDate(*lastKnownGood) : std::nullopt;
    if (!date) {
        report.warning = true;
        report.logLine = lastKnownGood ? "Uyarı: Veritabanının sağlam bulunduğu bir kontrol "
                                         "kaydı yok. Onar ile kontrol edin."
                                       : "Uyarı: Son veritabanı kontrolünün tarihi okunamadı. "
                                         "Onar ile kontrol edin.";
        report.statusText = "Uyarı: sağlam kontrol kaydı yok. Onar'a basın.";
        return report;
    }
    const auto days = (std::chrono::sys_days(today) - std::chrono::sys_days(*date)).count();
    const std::string when = dateText(*date);
    if (days > HealthyCheckDays) {
        report.warning = true;
        report.logLine = "Uyarı: Son sağlam veritabanı kontrolü " + std::to_string(days) +
                         " gün önce (" + when + "). Onar ile kontrol edin.";
        report.statusText =
            "Uyarı: sağlam kontrol " + std::to_string(days) + " gün önce. Onar'a basın.";
        return report;
    }
    // A date after today (the server's clock ahead of this one) is shown as it is.
    const std::string ago = days == 0  ? " (bugün)"
                            : days > 0 ? " (" + std::to_string(days) + " gün önce)"
                                       : "";
    report.logLine = "Son sağlam veritabanı kontrolü: " + when + ago + ".";
    report.statusText = "Son sağlam kontrol: " + when + ago + ".";
    return report;
}

} // namespace kv::console
