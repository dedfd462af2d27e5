// The .csv catalogue: one header line, then one line per converted recording.
#pragma once

class Console;
class RecordingHeader;
struct RunOptions;

[[nodiscard]] bool ensure_catalogue_header(const RunOptions& options, Console& console);
[[nodiscard]] bool append_catalogue_row(const RunOptions& options, const RecordingHeader& header, Console& console);
