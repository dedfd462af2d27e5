// Broadcast texts (channel name, title, description) decoded from their character table to UTF-8.
#pragma once

#include <string>
#include <string_view>

// The first byte of a text may select its character table, as the broadcast standard's text coding
// defines: 0x20 to 0xFF begin a text in the default table (ISO/IEC 6937, with the euro sign at 0xA4);
// 0x01 to 0x0B select ISO/IEC 8859-5 to 8859-15; 0x10 0x00 0xNN selects 8859-NN; 0x11 the two-byte
// basic multilingual plane; 0x12 KS X 1001, 0x13 GB2312, 0x14 Big5 and 0x15 UTF-8. A reserved selector,
// or one naming a table the system cannot convert, is dropped and the rest decoded in the default
// table. The emphasis codes are dropped and the line-break code becomes a line feed; a sequence that
// does not decode becomes U+FFFD. The result is always valid UTF-8 with no control character but the
// line feed, whatever the system's converter gives. Decoding never fails.
std::string decode_broadcast_text(std::string_view stored);

// Whether a text is in the two-byte table, where a zero byte is half of a character, not the end.
constexpr bool is_two_byte_text(std::string_view stored)
{
    return !stored.empty() && stored.front() == '\x11';
}
