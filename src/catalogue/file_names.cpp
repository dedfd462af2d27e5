#include "catalogue/file_names.h"

#include "shared/utf8.h"

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

// The character that starts at `at`, and how many bytes it takes: a valid UTF-8 sequence, or else the
// one byte read as ISO 8859-1.
Utf8Sequence character_at(std::string_view bytes, std::size_t at)
{
    Utf8Sequence read = utf8_sequence_at(bytes.substr(at));
    if (read.length == 0)
        return { static_cast<unsigned char>(bytes[at]), 1 };
    return read;
}

template <typename Each>
std::string recoded(std::string_view bytes, Each each)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        Utf8Sequence read = character_at(bytes, at);
        append_utf8(text, each(read.code_point));
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
