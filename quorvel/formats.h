#pragma once
// Dates and times as every window shows them: the user's locale (QLocale),
// one format per kind. A time is the locale's short time ("6:30 PM" or
// "18:30"); a date in a list or beside a time is the locale's short date; a
// date standing alone writes out the weekday and the month ("Friday,
// 11 December 2026"), so nobody reads 12/11 as 12 November.
#include <QString>
#include <ctime>

class QDate;
class QTime;

namespace ui {

QString timeText(const QTime& time);
QString dateText(const QDate& date);
QString longDateText(const QDate& date);
// A day of any year, month written out ("15 March", "March 15"): the long
// date without weekday and year.
QString dayOfYearText(int month, int day);
// A moment in local time: the short date and the time.
QString dateTimeText(std::time_t when);
// The locale's time format for time controls (QTimeEdit).
QString timeFormat();

}  // namespace ui
