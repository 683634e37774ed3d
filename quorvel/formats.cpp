#include "quorvel/formats.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
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

QString dayOfYearText(int month, int day)
{
    QString f = QLocale().dateFormat(QLocale::LongFormat);
    f.remove(QRegularExpression(QStringLiteral("d{4}[,.]?\\s*")));
    f.remove(QRegularExpression(QStringLiteral("[,.]?\\s*y+[.]?")));
    // 2000 is a leap year, so 29 February is a day too.
    return QLocale().toString(QDate(2000, month, day), f.trimmed());
}

QString dateTimeText(std::time_t when)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(when);
    return dateText(t.date()) + QLatin1Char(' ') + timeText(t.time());
}

}  // namespace ui
