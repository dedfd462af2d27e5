// Numbers as text, the one way the program writes them: decimal or lower-case hexadecimal, zeros in
// front up to a least number of digits, and a wider value in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class NumberBase : unsigned {
    decimal = 10,
    hexadecimal = 16,
};

// Appends `value` with at least `min_digits` digits: 200 with 2 is "200", 7 with 2 is "07".
constexpr void append_number(std::string& text, std::uint64_t value, std::size_t min_digits = 1,
    NumberBase base = NumberBase::decimal)
{
    constexpr char digit_names[] = "0123456789abcdef";
    auto radix = static_cast<unsigned>(base);
    char digits[20] {};  // enough for 2^64 - 1 in decimal
    std::size_t count = 0;
    do {
        digits[count++] = digit_names[value % radix];
        value /= radix;
    } while (value != 0);
    for (std::size_t padding = count; padding < min_digits; ++padding)
        text += '0';
    while (count > 0)
        text += digits[--count];
}

constexpr std::string number_text(std::uint64_t value, std::size_t min_digits = 1, NumberBase base = NumberBase::decimal)
{
    std::string text;
    append_number(text, value, min_digits, base);
    return text;
}
