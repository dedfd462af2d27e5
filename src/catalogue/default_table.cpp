// The default table of broadcast texts (ISO/IEC 6937, with the euro sign at 0xA4), decoded by the
// program itself, so that the catalogue is the same on every system.

#include "catalogue/broadcast_text.h"

#include "platform/text_conversion.h"

#include <array>
#include <string_view>

namespace {

// The characters of 0xA0 to 0xFF; 0 where the table has none. 0xC1 to 0xCF are the non-spacing marks,
// which stand before the letter they go with.
constexpr std::array<char16_t, 96> upper_half {
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x20AC, 0x00A5, 0x0000, 0x00A7,
    0x00A4, 0x2018, 0x201C, 0x00AB, 0x2190, 0x2191, 0x2192, 0x2193,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00D7, 0x00B5, 0x00B6, 0x00B7,
    0x00F7, 0x2019, 0x201D, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x2014, 0x00B9, 0x00AE, 0x00A9, 0x2122, 0x266A, 0x00AC, 0x00A6,
    0x0000, 0x0000, 0x0000, 0x0000, 0x215B, 0x215C, 0x215D, 0x215E,
    0x2126, 0x00C6, 0x00D0, 0x00AA, 0x0126, 0x0000, 0x0132, 0x013F,
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00DE, 0x0166, 0x014A, 0x0149,
    0x0138, 0x00E6, 0x0111, 0x00F0, 0x0127, 0x0131, 0x0133, 0x0140,
    0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x0167, 0x014B, 0x00AD,
};

constexpr unsigned first_mark = 0xC1;
constexpr unsigned last_mark = 0xCF;

// For each mark from 0xC1 on, the characters it combines with and what each pair becomes: the
// precomposed letter, or before a space the accent on its own.
struct Combinations {
    std::string_view bases;
    std::u16string_view combined;
};

constexpr std::array<Combinations, last_mark - first_mark + 1> combinations { {
    { "AEIOUaeiou", u"\u00C0\u00C8\u00CC\u00D2\u00D9\u00E0\u00E8\u00EC\u00F2\u00F9" },
    { " ACEILNORSUYZaceilnorsuyz", u"\u00B4\u00C1\u0106\u00C9\u00CD\u0139\u0143\u00D3\u0154\u015A\u00DA\u00DD\u0179\u00E1\u0107\u00E9\u00ED\u013A\u0144\u00F3\u0155\u015B\u00FA\u00FD\u017A" },
    { "ACEGHIJOSUWYaceghijosuwy", u"\u00C2\u0108\u00CA\u011C\u0124\u00CE\u0134\u00D4\u015C\u00DB\u0174\u0176\u00E2\u0109\u00EA\u011D\u0125\u00EE\u0135\u00F4\u015D\u00FB\u0175\u0177" },
    { "AINOUainou", u"\u00C3\u0128\u00D1\u00D5\u0168\u00E3\u0129\u00F1\u00F5\u0169" },
    { " AEIOUaeiou", u"\u00AF\u0100\u0112\u012A\u014C\u016A\u0101\u0113\u012B\u014D\u016B" },
    { " AGUagu", u"\u02D8\u0102\u011E\u016C\u0103\u011F\u016D" },
    { " CEGIZcegz", u"\u02D9\u010A\u0116\u0120\u0130\u017B\u010B\u0117\u0121\u017C" },
    { " AEIOUYaeiouy", u"\u00A8\u00C4\u00CB\u00CF\u00D6\u00DC\u0178\u00E4\u00EB\u00EF\u00F6\u00FC\u00FF" },
    { "", u"" },
    { " AUau", u"\u02DA\u00C5\u016E\u00E5\u016F" },
    { " CGKLNRSTcgklnrst", u"\u00B8\u00C7\u0122\u0136\u013B\u0145\u0156\u015E\u0162\u00E7\u0123\u0137\u013C\u0146\u0157\u015F\u0163" },
    { "", u"" },
    { " OUou", u"\u02DD\u0150\u0170\u0151\u0171" },
    { " AEIUaeiu", u"\u02DB\u0104\u0118\u012E\u0172\u0105\u0119\u012F\u0173" },
    { " CDELNRSTZcdelnrstz", u"\u02C7\u010C\u010E\u011A\u013D\u0147\u0158\u0160\u0164\u017D\u010D\u010F\u011B\u013E\u0148\u0159\u0161\u0165\u017E" },
} };

void append_code_point(char32_t code, std::string& utf8)
{
    if (code < 0x80) {
        utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
        utf8 += static_cast<char>(0xC0 | code >> 6);
        utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        utf8 += static_cast<char>(0xE0 | code >> 12);
        utf8 += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// What a mark and the byte after it become together, or 0 when they do not combine.
char16_t combined(unsigned mark, unsigned next)
{
    const Combinations& with = combinations[mark - first_mark];
    std::size_t at = with.bases.find(static_cast<char>(next));
    return next < 0x80 && at != std::string_view::npos ? with.combined[at] : u'\0';
}

}

void append_default_table(std::string_view bytes, std::string& utf8)
{
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        unsigned byte = static_cast<unsigned char>(bytes[index]);
        if (byte < 0xA0) {
            append_code_point(byte, utf8);
            continue;
        }
        if (byte >= first_mark && byte <= last_mark) {
            char16_t pair = index + 1 < bytes.size() ? combined(byte, static_cast<unsigned char>(bytes[index + 1])) : u'\0';
            if (pair != u'\0') {
                append_code_point(pair, utf8);
                ++index;
                continue;
            }
        }
        // A mark at the end, or before what it cannot go with, stands for nothing; the byte after it
        // is read on its own.
        char16_t single = upper_half[byte - 0xA0];
        if (single != u'\0')
            append_code_point(single, utf8);
        else
            utf8 += replacement_character;
    }
}
