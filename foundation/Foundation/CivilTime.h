// Dates of the proleptic Gregorian calendar and day counts since
// 1970-01-01, for any year a property-list date can hold (after Howard
// Hinnant's days_from_civil and civil_from_days).
#pragma once

#include <cstdint>

struct CivilDate {
    std::int64_t year = 1970;
    unsigned month = 1; // 1...12
    unsigned day = 1;   // 1...31
};

inline std::int64_t daysFromCivil(const CivilDate& date)
{
    const std::int64_t year = date.year - (date.month <= 2 ? 1 : 0);
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

inline CivilDate civilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    CivilDate date;
    date.day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    date.month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    date.year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

inline bool isLeapYear(std::int64_t year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

inline unsigned daysInMonth(std::int64_t year, unsigned month)
{
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Seconds between 1970-01-01 and 2001-01-01, the property lists' reference date.
inline constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;

// A whole number of seconds since the reference date as a date and the
// seconds into its day.
inline CivilDate civilFromReferenceSeconds(std::int64_t seconds, std::int64_t& secondOfDay)
{
    seconds += kReferenceDateUnixSeconds;
    std::int64_t days = seconds / 86400;
    secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    return civilFromDays(days);
}
