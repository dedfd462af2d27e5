// Reading UTF-8 strictly, one sequence at a time: what names and texts of any bytes are judged by.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// A code point read from UTF-8, and the bytes it took; a length of 0 when no valid sequence was there.
struct Utf8Sequence {
    char32_t code_point = 0;
    std::size_t length = 0;
};

// The valid UTF-8 sequence at the start of `bytes`: overlong forms, surrogates and code points past
// U+10FFFF are not valid.
constexpr Utf8Sequence utf8_sequence_at(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    auto byte = [&bytes](std::size_t index) { return static_cast<unsigned char>(bytes[index]); };
    unsigned char first = byte(0);
    if (first < 0x80)
        return { first, 1 };
    std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (length == 0 || first > 0xF4 || bytes.size() < length)
        return {};
    char32_t value = first & (0x7F >> length);
    for (std::size_t index = 1; index < length; ++index) {
        if ((byte(index) & 0xC0) != 0x80)
            return {};
        value = value << 6 | (byte(index) & 0x3F);
    }
    constexpr std::array<char32_t, 5> lowest { 0, 0, 0x80, 0x800, 0x10000 };
    if (value < lowest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return { value, length };
}
