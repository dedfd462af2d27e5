#include "catalogue/broadcast_time.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

constexpr BroadcastTime at(std::uint16_t mjd, std::uint8_t hour, std::uint8_t minute)
{
    return static_cast<BroadcastTime>(mjd) << 16 | static_cast<BroadcastTime>(hour) << 8 | minute;
}

// Usable where a constant is needed, so a catalogue line can be checked at compile time too.
static_assert(format_broadcast_time(0xC0790C2D) == "12:45,13/10/1993");
static_assert(number_text(7, 2) == "07" && number_text(200, 2) == "200" && number_text(18446744073709551615u) == "18446744073709551615");
static_assert(number_text(0x102, 4, NumberBase::hexadecimal) == "0102" && number_text(0x1ffff, 4, NumberBase::hexadecimal) == "1ffff");
static_assert(mjd_to_date(0) == CalendarDate { 19, 255, 1859 });

struct TextCase {
    BroadcastTime time;
    const char* text;
};

void PrintTo(const TextCase& text_case, std::ostream* stream) { *stream << text_case.text; }

class BroadcastTimeText : public testing::TestWithParam<TextCase> { };

TEST_P(BroadcastTimeText, FormatsTimeAndDay)
{
    EXPECT_EQ(format_broadcast_time(GetParam().time), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(BroadcastTime, BroadcastTimeText,
    testing::Values(
        TextCase { 0xC0790C2D, "12:45,13/10/1993" },
        TextCase { at(51544, 0, 0), "00:00,01/01/2000" },
        TextCase { at(40587, 23, 59), "23:59,01/01/1970" },
        TextCase { at(15079, 6, 5), "06:05,01/03/1900" },
        TextCase { at(65535, 0, 0), "00:00,22/04/2038" },
        // Below 1 March 1900 the formula is kept as it is, wrapped to the field widths.
        TextCase { at(0, 0, 0), "00:00,19/255/1859" },
        TextCase { at(15078, 0, 0), "00:00,31/02/1900" },
        // Hour and minute are plain bytes, not BCD, and are not range-checked.
        TextCase { at(51544, 0x19, 0x59), "25:89,01/01/2000" },
        TextCase { at(51544, 200, 255), "200:255,01/01/2000" }));

TEST(BroadcastTime, AgreesWithCivilCalendarFromMarch1900To2038)
{
    using namespace std::chrono;
    constexpr int unix_epoch_mjd = 40587;
    for (int mjd = 15079; mjd <= 65535; ++mjd) {
        year_month_day civil { sys_days { 1970y / January / 1 } + days { mjd - unix_epoch_mjd } };
        CalendarDate date = mjd_to_date(static_cast<std::uint16_t>(mjd));
        ASSERT_EQ(date.day, static_cast<unsigned>(civil.day())) << "MJD " << mjd;
        ASSERT_EQ(date.month, static_cast<unsigned>(civil.month())) << "MJD " << mjd;
        ASSERT_EQ(date.year, static_cast<int>(civil.year())) << "MJD " << mjd;
    }
}

}
