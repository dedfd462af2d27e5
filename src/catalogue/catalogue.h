// The .csv catalogue: one header line, then one line per converted recording.
#pragma once

#include <string>
#include <string_view>

class Console;
class RecordingHeader;
struct RunOptions;

// The 19 column labels, each followed by a comma, then a line feed.
std::string_view catalogue_header_line();

// One recording's line. Texts are written as stored, with no character-set conversion; Program and
// Description are always quoted, Filename and Channel only when they hold a comma, a quote, a CR or an
// LF, and a quote inside a quoted field is doubled, so that every line reads as 19 fields.
std::string catalogue_row(std::string_view input_path, const RecordingHeader& header);

// Creates the catalogue with its header line when it is new or empty, or starts it afresh when
// `append` is clear. Prints "creating" only when it does so.
[[nodiscard]] bool ensure_catalogue_header(const RunOptions& options, Console& console);

// Appends the recording's line with one write, under an exclusive lock, so that runs side by side on
// one catalogue neither interleave nor lose lines.
[[nodiscard]] bool append_catalogue_row(const RunOptions& options, const RecordingHeader& header, Console& console);
