// The report (-j): one JSON object per recording, on a line of its own, for programs to read; typed,
// where the catalogue's columns are text in the forms stored catalogues have always had.
#pragma once

#include "catalogue/catalogue.h"
#include "platform/file.h"
#include "recording/files_of_the_run.h"
#include "shared/broadcast_time_value.h"
#include "shared/stage_report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class RecordingHeader;
struct StreamReport;

// What became of a recording.
enum class ReportOutcome {
    converted,    // its .ts file and its line were written
    stream_only,  // its line was there: only its .ts file was written
    line_only,    // its .ts file was whole, or not asked for (-t): only its line was written
    skipped,      // both were there
    failed,
};

struct ReportEntry {
    std::string recording_path;  // as given
    std::string name;            // what the recording is known by: its file's name, as its file system holds it
    std::optional<std::string> stream_path;  // empty with -t
    ReportOutcome outcome = ReportOutcome::converted;
    std::optional<std::string> reason;  // why it was skipped or failed
    std::optional<std::uint64_t> stream_bytes;  // empty where the size cannot be known (a pipe not read)
    std::string catalogue_path;
    const RecordingHeader* header = nullptr;  // null when it was never read
    const StreamReport* check = nullptr;      // with -s, once the stream was checked
};

// The object, and the line feed that ends it. Paths and names are written as utf8_from_any_bytes reads
// them; the texts decoded from their character tables, as -u decodes them; identifiers and PIDs as
// numbers; start and end as ISO 8601 in UTC ("1993-10-13T12:45Z"), or null where the header's date and
// time are not a real one; every field of the header null when it was never read; the check's counts
// and its duration by PCR in seconds, or null without -s.
std::string report_line(const ReportEntry& entry);

// A broadcast time as ISO 8601 in UTC, or empty when it is no time: before 1 March 1900, where the date
// conversion holds, or with an hour past 23 or a minute past 59.
std::optional<std::string> iso_broadcast_time(BroadcastTime time);

// Whether a file whose first bytes are `start` may be appended to as a report: empty, or the start of
// a JSON object.
bool holds_a_report(std::string_view start);

// The report as a run holds it: opened at its first line. One that is no regular file (a pipe given
// as -j >(jq ...), a FIFO) is kept open to the end of the run, so that its reader gets every line
// before the end; a regular file is opened again for each line.
struct ReportFile {
    std::string path;
    File kept;
};

// Appends one line to the report under its exclusive lock, creating the file if need be but never
// emptying it: the report is named to `files` as opened and refused when it is another file of the run,
// or when it holds something that does not begin like a report. A line is written whole or not at all:
// a failed write is cut back off a regular file.
[[nodiscard]] CatalogueOutcome append_report_line(ReportFile& report, FilesOfTheRun& files, std::string_view line,
    ProgressReporter& reporter);
