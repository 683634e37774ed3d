#include "quorvel/formats.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace ui {

QString timeFormat()
{
    // Hours and minutes only: the CP290 keeps no seconds.
    QString f = QLocale().timeFormat(QLocale::ShortFormat);
    f.remove(QLatin1String(":ss")).remove(QLatin1String(".ss"));
    return f;
}

QString timeText(const QTime& time)
{
    return QLocale().toString(time, timeFormat());
}

QString dateText(const QDate& date)
{
    return QLocale().toString(date, QLocale::ShortFormat);
}

QString longDateText(const QDate& date)
{
    return QLocale().toString(date, QLocale::LongFormat);
}

QString dateTimeText(std::time_t when)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(when);
    return dateText(t.date()) + QLatin1Char(' ') + timeText(t.time());
}

}  // namespace ui
