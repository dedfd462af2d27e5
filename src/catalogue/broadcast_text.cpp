#include "catalogue/broadcast_text.h"

#include "platform/text_conversion.h"

#include <array>
#include <cstdint>
#include <optional>

namespace {

constexpr unsigned line_break = 0x8A;

struct Table {
    CharacterSet set;
    std::size_t selector_length;  // the bytes that select the table, not part of the text
};

constexpr std::array<CharacterSet, 16> iso_8859_by_number {
    CharacterSet::iso_8859_1, CharacterSet::iso_8859_1, CharacterSet::iso_8859_2, CharacterSet::iso_8859_3,
    CharacterSet::iso_8859_4, CharacterSet::iso_8859_5, CharacterSet::iso_8859_6, CharacterSet::iso_8859_7,
    CharacterSet::iso_8859_8, CharacterSet::iso_8859_9, CharacterSet::iso_8859_10, CharacterSet::iso_8859_11,
    CharacterSet::iso_8859_1, CharacterSet::iso_8859_13, CharacterSet::iso_8859_14, CharacterSet::iso_8859_15,
};

// Empty for a reserved selector. Part 12 of 8859 was never published, so 0x10 0x00 0x0C is reserved.
std::optional<Table> table_of(std::string_view stored)
{
    auto byte = [&stored](std::size_t index) { return static_cast<unsigned char>(stored[index]); };
    unsigned first = byte(0);
    if (first >= 0x20)
        return Table { CharacterSet::iso_6937, 0 };
    if (first >= 0x01 && first <= 0x0B)
        return Table { iso_8859_by_number[first + 4], 1 };
    switch (first) {
    case 0x10: {
        if (stored.size() < 3 || byte(1) != 0)
            return std::nullopt;
        unsigned part = byte(2);
        if (part < 1 || part > 15 || part == 12)
            return std::nullopt;
        return Table { iso_8859_by_number[part], 3 };
    }
    case 0x11: return Table { CharacterSet::ucs_2_big_endian, 1 };
    case 0x12: return Table { CharacterSet::euc_kr, 1 };
    case 0x13: return Table { CharacterSet::gb2312, 1 };
    case 0x14: return Table { CharacterSet::big5, 1 };
    case 0x15: return Table { CharacterSet::utf_8, 1 };
    default: return std::nullopt;
    }
}

// In a single-byte table the codes 0x80 to 0x9F are controls, not characters: they are taken out
// before the text reaches the converter, which knows nothing of them.
void decode_single_byte(std::string_view text, CharacterSet set, std::string& utf8)
{
    std::size_t run_start = 0;
    for (std::size_t index = 0; index <= text.size(); ++index) {
        unsigned byte = index < text.size() ? static_cast<unsigned char>(text[index]) : 0;
        bool euro = set == CharacterSet::iso_6937 && byte == 0xA4;
        bool control = byte >= 0x80 && byte <= 0x9F;
        if (index < text.size() && !euro && !control)
            continue;
        append_as_utf8(text.substr(run_start, index - run_start), set, utf8);
        run_start = index + 1;
        // The default table is ISO/IEC 6937 with this one change.
        if (euro)
            utf8 += "\xE2\x82\xAC";
        else if (byte == line_break)
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

}

std::string decode_broadcast_text(std::string_view stored)
{
    if (stored.empty())
        return {};
    std::optional<Table> table = table_of(stored);
    if (!table)
        return std::string(stored);
    std::string_view text = stored.substr(table->selector_length);
    std::string utf8;
    switch (table->set) {
    case CharacterSet::ucs_2_big_endian:
    case CharacterSet::utf_8:
        append_as_utf8(text, table->set, utf8);
        return without_two_byte_controls(utf8);
    case CharacterSet::euc_kr:
    case CharacterSet::gb2312:
    case CharacterSet::big5:
        append_as_utf8(text, table->set, utf8);
        return utf8;
    default:
        decode_single_byte(text, table->set, utf8);
        return utf8;
    }
}
