#pragma once
// The time stamp of an activity log line: the time of day in the long time format of the
// system's regional settings.

#include <QLocale>
#include <QTime>
#include <string>

namespace kv::console {

// Qt's long time formats carry the time zone ("t"), which the Windows long time format never
// shows: it is left out, with the blank it leaves behind. Quoted literal text is kept as it is.
QString withoutTimeZone(const QString& format);

// The long time format of `locale`, without the time zone.
QString longTimeFormat(const QLocale& locale);

// `time` in the long time format of `locale`, as UTF-8.
std::string longTimeText(const QTime& time, const QLocale& locale = QLocale::system());

} // namespace kv::console
