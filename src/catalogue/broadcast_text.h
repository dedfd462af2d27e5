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

// Appends bytes of the default table, decoded by this program's own table rather than the system's,
// so that every system gives the same: each non-spacing mark (0xC1 to 0xCF) combined with the letter
// after it into one character, or before a space into the accent alone. A byte the table lacks, or a
// mark at the end or before what it cannot go with, becomes U+FFFD, and the byte after such a mark
// is read on its own. The control codes 0x80 to 0x9F are left to the caller.
void append_default_table(std::string_view bytes, std::string& utf8);
