#include "catalogue/file_names.h"

#include <cstdint>

namespace {

void append_utf8(std::string& text, char32_t character)
{
    if (character < 0x80) {
        text += static_cast<char>(character);
    } else if (character < 0x800) {
        text += static_cast<char>(0xC0 | character >> 6);
        text += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        text += static_cast<char>(0xE0 | character >> 12);
        text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | character >> 18);
        text += static_cast<char>(0x80 | (character >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
}

// The character that starts at `at`, and how many bytes it takes: a valid UTF-8 sequence (shortest form,
// no surrogate, nothing past U+10FFFF), or else the one byte read as ISO 8859-1.
// A character read from bytes, and the bytes it took.
struct ReadCharacter {
    char32_t character;
    std::size_t length;
};

ReadCharacter character_at(std::string_view bytes, std::size_t at)
{
    auto byte = [&bytes](std::size_t index) { return static_cast<std::uint8_t>(bytes[index]); };
    std::uint8_t lead = byte(at);
    ReadCharacter single { lead, 1 };
    if (lead < 0x80)
        return single;
    std::size_t needed = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (needed == 0 || at + needed > bytes.size())
        return single;
    char32_t character = lead & (needed == 2 ? 0x1F : needed == 3 ? 0x0F : 0x07);
    for (std::size_t index = 1; index < needed; ++index) {
        if ((byte(at + index) & 0xC0) != 0x80)
            return single;
        character = character << 6 | (byte(at + index) & 0x3F);
    }
    bool shortest = needed == 2 || (needed == 3 && character >= 0x800) || (needed == 4 && character >= 0x10000);
    if (!shortest || (character >= 0xD800 && character <= 0xDFFF) || character > 0x10FFFF)
        return single;
    return { character, needed };
}

template <typename Each>
std::string recoded(std::string_view bytes, Each each)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        ReadCharacter read = character_at(bytes, at);
        append_utf8(text, each(read.character));
        at += read.length;
    }
    return text;
}

}

std::string utf8_from_any_bytes(std::string_view bytes)
{
    return recoded(bytes, [](char32_t character) { return character; });
}

std::string name_key(std::string_view path)
{
    std::size_t separator = path.find_last_of("/\\");
    std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    return recoded(name, folded_case);
}
