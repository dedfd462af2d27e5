// Converting broadcast texts to UTF-8 with the Windows code pages.

#include "platform/text_conversion.h"

#include <windows.h>

namespace {

// 0 where Windows has no code page for the set.
UINT code_page(CharacterSet set)
{
    switch (set) {
    case CharacterSet::iso_8859_1: return 28591;
    case CharacterSet::iso_8859_2: return 28592;
    case CharacterSet::iso_8859_3: return 28593;
    case CharacterSet::iso_8859_4: return 28594;
    case CharacterSet::iso_8859_5: return 28595;
    case CharacterSet::iso_8859_6: return 28596;
    case CharacterSet::iso_8859_7: return 28597;
    case CharacterSet::iso_8859_8: return 28598;
    case CharacterSet::iso_8859_9: return 28599;
    case CharacterSet::iso_8859_11: return 874;
    case CharacterSet::iso_8859_13: return 28603;
    case CharacterSet::iso_8859_15: return 28605;
    case CharacterSet::euc_kr: return 949;  // its Korean code page holds KS X 1001 as EUC-KR codes it
    case CharacterSet::gb2312: return 936;
    case CharacterSet::big5: return 950;
    case CharacterSet::utf_8: return CP_UTF8;
    default: return 0;
    }
}

void append_wide(const std::wstring& text, std::string& utf8)
{
    if (text.empty())
        return;
    // Lone surrogates become U+FFFD here.
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(), length, nullptr, nullptr);
    utf8 += converted;
}

// Converts the sequence of `length` bytes if it is one valid character or more; false if it is not.
bool convert_strictly(UINT page, const char* bytes, int length, std::wstring& wide)
{
    wchar_t characters[8];
    int count = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, length, characters, 8);
    if (count <= 0)
        return false;
    wide.append(characters, static_cast<std::size_t>(count));
    return true;
}

}

bool has_converter(CharacterSet set)
{
    UINT page = code_page(set);
    return set == CharacterSet::ucs_2_big_endian || page == CP_UTF8 || (page != 0 && ::IsValidCodePage(page));
}

void append_as_utf8(std::string_view bytes, CharacterSet set, std::string& utf8)
{
    if (set == CharacterSet::ucs_2_big_endian) {
        std::wstring wide;
        std::size_t index = 0;
        for (; index + 1 < bytes.size(); index += 2)
            wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[index]) << 8 | static_cast<unsigned char>(bytes[index + 1]));
        append_wide(wide, utf8);
        if (index < bytes.size())
            utf8 += replacement_character;
        return;
    }
    UINT page = code_page(set);
    if (page == CP_UTF8) {
        // Without the strict flag, Windows turns every invalid sequence into U+FFFD itself.
        std::wstring wide(bytes.size(), L'\0');
        int count = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), static_cast<int>(wide.size()));
        wide.resize(static_cast<std::size_t>(count > 0 ? count : 0));
        append_wide(wide, utf8);
        return;
    }
    bool available = page != 0 && ::IsValidCodePage(page);
    // One character at a time, of one or two bytes, so that one that does not decode becomes U+FFFD
    // and the rest still decode. A two-byte character starts with a lead byte.
    std::wstring wide;
    for (std::size_t index = 0; index < bytes.size();) {
        unsigned char byte = static_cast<unsigned char>(bytes[index]);
        bool two_bytes = index + 1 < bytes.size() && available && ::IsDBCSLeadByteEx(page, byte) != 0;
        std::size_t length = two_bytes ? 2 : 1;
        if (byte < 0x80) {
            wide += static_cast<wchar_t>(byte);
        } else if (!available || !convert_strictly(page, bytes.data() + index, static_cast<int>(length), wide)) {
            append_wide(wide, utf8);
            wide.clear();
            utf8 += replacement_character;
            length = 1;
        }
        index += length;
    }
    append_wide(wide, utf8);
}
