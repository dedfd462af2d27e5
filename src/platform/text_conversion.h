// Converting text in a broadcast character set to UTF-8 with the system's own converter.
#pragma once

#include <string>
#include <string_view>

// The character sets the catalogue decodes from with the system's converter, which knows each by its
// own name. The default table (ISO/IEC 6937) is not among them: the catalogue decodes it itself.
enum class CharacterSet {
    iso_8859_1, iso_8859_2, iso_8859_3, iso_8859_4, iso_8859_5, iso_8859_6, iso_8859_7, iso_8859_8,
    iso_8859_9, iso_8859_10, iso_8859_11, iso_8859_13, iso_8859_14, iso_8859_15,
    ucs_2_big_endian,
    euc_kr,
    gb2312,
    big5,
    utf_8,
};

inline constexpr std::string_view replacement_character = "\xEF\xBF\xBD";  // U+FFFD

// Whether the system has a converter for the set; without one, append_as_utf8 gives U+FFFD for every
// byte outside ASCII.
bool has_converter(CharacterSet set);

// Appends `bytes`, decoded, to `utf8`. A sequence that does not decode becomes U+FFFD and decoding goes
// on after it; a converter the system lacks turns every byte outside ASCII into U+FFFD.
void append_as_utf8(std::string_view bytes, CharacterSet set, std::string& utf8);
