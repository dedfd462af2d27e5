// Broadcast start and end times as the recorder packs them, and their text for the catalogue.
#pragma once

#include "shared/broadcast_time_value.h"
#include "shared/number_text.h"

#include <cstdint>
#include <string>

struct CalendarDate {
    std::uint8_t day;
    std::uint8_t month;
    std::uint16_t year;

    friend constexpr bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// The broadcast standard's conversion, computed in double precision with truncation toward zero. It is a
// calendar date from MJD 15079 (1 March 1900) on; below that the same steps give what they give, wrapped
// to the field widths (MJD 0 gives 19/255/1859), which catalogues already hold and so is kept.
constexpr CalendarDate mjd_to_date(std::uint16_t modified_julian_date)
{
    const double mjd = modified_julian_date;
    const auto year_term = static_cast<std::int64_t>((mjd - 15078.2) / 365.25);
    const auto days_in_years = static_cast<std::int64_t>(static_cast<double>(year_term) * 365.25);
    const auto month_term = static_cast<std::int64_t>((mjd - 14956.1 - static_cast<double>(days_in_years)) / 30.6001);
    const auto days_in_months = static_cast<std::int64_t>(static_cast<double>(month_term) * 30.6001);
    const std::int64_t day = modified_julian_date - 14956 - days_in_years - days_in_months;
    const std::int64_t year_carry = (month_term == 14 || month_term == 15) ? 1 : 0;
    return {
        static_cast<std::uint8_t>(day),
        static_cast<std::uint8_t>(month_term - 1 - 12 * year_carry),
        static_cast<std::uint16_t>(year_term + year_carry + 1900),
    };
}

// "hh:mm,dd/mm/yyyy": the time and the day, which the comma splits into two catalogue columns. Hour and
// minute have no range check (an hour byte of 0x19 prints as 25); wider values print in full.
constexpr std::string format_broadcast_time(BroadcastTime time)
{
    const CalendarDate date = mjd_to_date(static_cast<std::uint16_t>(time >> 16));
    std::string text;
    append_number(text, time >> 8 & 0xFF, 2);
    text += ':';
    append_number(text, time & 0xFF, 2);
    text += ',';
    append_number(text, date.day, 2);
    text += '/';
    append_number(text, date.month, 2);
    text += '/';
    append_number(text, date.year, 4);
    return text;
}
