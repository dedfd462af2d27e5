#include "catalogue/broadcast_text.h"

#include "platform/text_conversion.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {

constexpr unsigned line_break = 0x8A;

struct Table {
    std::optional<CharacterSet> set;  // empty for the default table, which the program decodes itself
    std::size_t selector_length;      // the bytes that select the table, not part of the text
};

constexpr std::optional<CharacterSet> default_table = std::nullopt;

constexpr std::array<CharacterSet, 16> iso_8859_by_number {
    CharacterSet::iso_8859_1, CharacterSet::iso_8859_1, CharacterSet::iso_8859_2, CharacterSet::iso_8859_3,
    CharacterSet::iso_8859_4, CharacterSet::iso_8859_5, CharacterSet::iso_8859_6, CharacterSet::iso_8859_7,
    CharacterSet::iso_8859_8, CharacterSet::iso_8859_9, CharacterSet::iso_8859_10, CharacterSet::iso_8859_11,
    CharacterSet::iso_8859_1, CharacterSet::iso_8859_13, CharacterSet::iso_8859_14, CharacterSet::iso_8859_15,
};

// A reserved selector is dropped and the rest read in the default table, as it is when it names a
// table this system cannot convert. Part 12 of 8859 was never published, so 0x10 0x00 0x0C is
// reserved; 0x1F is followed by one byte that names an encoding.
Table table_of(std::string_view stored)
{
    auto byte = [&stored](std::size_t index) { return static_cast<unsigned char>(stored[index]); };
    unsigned first = byte(0);
    if (first >= 0x20)
        return { default_table, 0 };
    if (first >= 0x01 && first <= 0x0B)
        return { iso_8859_by_number[first + 4], 1 };
    switch (first) {
    case 0x10: {
        if (stored.size() < 3 || byte(1) != 0)
            return { default_table, std::min<std::size_t>(stored.size(), 3) };
        unsigned part = byte(2);
        if (part < 1 || part > 15 || part == 12)
            return { default_table, 3 };
        return { iso_8859_by_number[part], 3 };
    }
    case 0x11: return { CharacterSet::ucs_2_big_endian, 1 };
    case 0x12: return { CharacterSet::euc_kr, 1 };
    case 0x13: return { CharacterSet::gb2312, 1 };
    case 0x14: return { CharacterSet::big5, 1 };
    case 0x15: return { CharacterSet::utf_8, 1 };
    case 0x1F: return { default_table, std::min<std::size_t>(stored.size(), 2) };
    default: return { default_table, 1 };
    }
}

// In a single-byte table the codes 0x80 to 0x9F are controls, not characters: they are taken out
// before the text reaches the converter, which knows nothing of them.
void decode_single_byte(std::string_view text, std::optional<CharacterSet> set, std::string& utf8)
{
    std::size_t run_start = 0;
    for (std::size_t index = 0; index <= text.size(); ++index) {
        unsigned byte = index < text.size() ? static_cast<unsigned char>(text[index]) : 0;
        bool control = byte >= 0x80 && byte <= 0x9F;
        if (index < text.size() && !control)
            continue;
        std::string_view run = text.substr(run_start, index - run_start);
        if (set)
            append_as_utf8(run, *set, utf8);
        else
            append_default_table(run, utf8);
        run_start = index + 1;
        if (byte == line_break)
            utf8 += '\n';
        // The emphasis codes, and the other controls, have nothing to show.
    }
}

// In the two-byte table the controls are the private-use characters U+E080 to U+E09F, which UTF-8
// writes as EE 82 80 to EE 82 9F.
std::string without_two_byte_controls(const std::string& decoded)
{
    std::string text;
    for (std::size_t index = 0; index < decoded.size(); ++index) {
        if (decoded.compare(index, 2, "\xEE\x82") == 0 && index + 2 < decoded.size()) {
            unsigned code = static_cast<unsigned char>(decoded[index + 2]);
            if (code >= 0x80 && code <= 0x9F) {
                if (code == line_break)
                    text += '\n';
                index += 2;
                continue;
            }
        }
        text += decoded[index];
    }
    return text;
}

// The bytes of one well-formed UTF-8 sequence that starts with `lead`, as the Unicode standard's
// table of well-formed sequences gives them: its length, and the range its second byte must be in, so
// that overlong forms, surrogates and code points past U+10FFFF are not taken. 0 for a byte that
// cannot start a sequence.
struct SequenceShape {
    std::size_t length;
    unsigned second_low;
    unsigned second_high;
};

constexpr SequenceShape shape_of(unsigned lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return { 2, 0x80, 0xBF };
    if (lead == 0xE0)
        return { 3, 0xA0, 0xBF };
    if (lead == 0xED)
        return { 3, 0x80, 0x9F };
    if (lead >= 0xE1 && lead <= 0xEF)
        return { 3, 0x80, 0xBF };
    if (lead == 0xF0)
        return { 4, 0x90, 0xBF };
    if (lead >= 0xF1 && lead <= 0xF3)
        return { 4, 0x80, 0xBF };
    if (lead == 0xF4)
        return { 4, 0x80, 0x8F };
    return { 0, 0, 0 };
}

// What a converter gave, made sure: valid UTF-8 whatever the converter let through, each ill-formed
// part one U+FFFD, and no control character but the line feed, so that no NUL or stray control
// reaches the catalogue.
std::string well_formed(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t index = 0; index < bytes.size();) {
        unsigned lead = static_cast<unsigned char>(bytes[index]);
        if (lead < 0x80) {
            if (lead == '\n' || (lead >= 0x20 && lead != 0x7F))
                text += static_cast<char>(lead);
            ++index;
            continue;
        }
        SequenceShape shape = shape_of(lead);
        std::size_t taken = 1;
        while (taken < shape.length && index + taken < bytes.size()) {
            unsigned next = static_cast<unsigned char>(bytes[index + taken]);
            unsigned low = taken == 1 ? shape.second_low : 0x80;
            unsigned high = taken == 1 ? shape.second_high : 0xBF;
            if (next < low || next > high)
                break;
            ++taken;
        }
        if (shape.length == 0 || taken < shape.length) {
            text += replacement_character;
        } else {
            // U+0080 to U+009F are the C1 controls.
            bool control = lead == 0xC2 && static_cast<unsigned char>(bytes[index + 1]) <= 0x9F;
            if (!control)
                text.append(bytes.substr(index, taken));
        }
        index += taken;
    }
    return text;
}

std::string decode(std::string_view text, std::optional<CharacterSet> set)
{
    std::string utf8;
    if (!set) {
        decode_single_byte(text, default_table, utf8);
        return utf8;
    }
    switch (*set) {
    case CharacterSet::utf_8:
        // Already UTF-8: well_formed() judges it, the same way on every system, where converters
        // differ in how many U+FFFD they give for a bad sequence.
        return without_two_byte_controls(std::string(text));
    case CharacterSet::ucs_2_big_endian:
        append_as_utf8(text, *set, utf8);
        return without_two_byte_controls(utf8);
    case CharacterSet::euc_kr:
    case CharacterSet::gb2312:
    case CharacterSet::big5:
        append_as_utf8(text, *set, utf8);
        return utf8;
    default:
        decode_single_byte(text, set, utf8);
        return utf8;
    }
}

}

std::string decode_broadcast_text(std::string_view stored)
{
    if (stored.empty())
        return {};
    Table table = table_of(stored);
    if (table.set && !has_converter(*table.set))
        table.set = default_table;
    return well_formed(decode(stored.substr(table.selector_length), table.set));
}
