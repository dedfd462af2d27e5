// Recordings' file names as a catalogue holds and compares them: in any bytes, spelt by either system.
#pragma once

#include <string>
#include <string_view>

// The bytes as valid UTF-8: every byte that is not part of a valid UTF-8 sequence is read as the
// ISO 8859-1 character of that value. Valid UTF-8 comes back unchanged. A file name holds whatever
// bytes its system allowed; this is how such a name is written into a UTF-8 catalogue or a report.
std::string utf8_from_any_bytes(std::string_view bytes);

// The name a recording is known by, from its path or a catalogue line's Filename, the same on every
// system: the last part after '/' or '\', read as above, without the trailing dots and spaces that
// Windows drops, and with each character in its Unicode simple case folding, so that names a file
// system that ignores case takes for one give one key.
std::string name_key(std::string_view path);

// A character's simple case folding (the table case_folding.cpp holds).
char32_t folded_case(char32_t character);
