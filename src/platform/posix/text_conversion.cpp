// Converting broadcast texts to UTF-8 with the C library's iconv.

#include "platform/text_conversion.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>

namespace {

const char* iconv_name(CharacterSet set)
{
    switch (set) {
    case CharacterSet::iso_8859_1: return "ISO-8859-1";
    case CharacterSet::iso_8859_2: return "ISO-8859-2";
    case CharacterSet::iso_8859_3: return "ISO-8859-3";
    case CharacterSet::iso_8859_4: return "ISO-8859-4";
    case CharacterSet::iso_8859_5: return "ISO-8859-5";
    case CharacterSet::iso_8859_6: return "ISO-8859-6";
    case CharacterSet::iso_8859_7: return "ISO-8859-7";
    case CharacterSet::iso_8859_8: return "ISO-8859-8";
    case CharacterSet::iso_8859_9: return "ISO-8859-9";
    case CharacterSet::iso_8859_10: return "ISO-8859-10";
    case CharacterSet::iso_8859_11: return "ISO-8859-11";
    case CharacterSet::iso_8859_13: return "ISO-8859-13";
    case CharacterSet::iso_8859_14: return "ISO-8859-14";
    case CharacterSet::iso_8859_15: return "ISO-8859-15";
    case CharacterSet::ucs_2_big_endian: return "UCS-2BE";
    case CharacterSet::euc_kr: return "EUC-KR";
    case CharacterSet::gb2312: return "GB2312";
    case CharacterSet::big5: return "BIG5";
    case CharacterSet::utf_8: return "UTF-8";
    }
    return "UTF-8";
}

// One unit of the set: what is skipped, as one U+FFFD, past a sequence that does not decode.
std::size_t unit_size(CharacterSet set)
{
    return set == CharacterSet::ucs_2_big_endian ? 2 : 1;
}

}

bool has_converter(CharacterSet set)
{
    iconv_t converter = ::iconv_open("UTF-8", iconv_name(set));
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    ::iconv_close(converter);
    return true;
}

void append_as_utf8(std::string_view bytes, CharacterSet set, std::string& utf8)
{
    iconv_t converter = ::iconv_open("UTF-8", iconv_name(set));
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        for (char byte : bytes) {
            if (static_cast<unsigned char>(byte) < 0x80)
                utf8 += byte;
            else
                utf8 += replacement_character;
        }
        return;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    std::array<char, 1024> out_buffer;
    while (in_left > 0) {
        char* out = out_buffer.data();
        std::size_t out_left = out_buffer.size();
        std::size_t result = ::iconv(converter, &in, &in_left, &out, &out_left);
        utf8.append(out_buffer.data(), static_cast<std::size_t>(out - out_buffer.data()));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ: a sequence that does not decode; EINVAL: one cut short by the end of the text.
        utf8 += replacement_character;
        std::size_t skip = std::min(in_left, unit_size(set));
        in += skip;
        in_left -= skip;
        ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(converter);
}
