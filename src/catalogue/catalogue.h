// The .csv catalogue: one header line, then one line per converted recording.
#pragma once

#include "catalogue/catalogue_holdings.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "recording/files_of_the_run.h"
#include "shared/expected.h"
#include "shared/stage_report.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class RecordingHeader;

// The 19 column labels, each followed by a comma, then a line feed.
std::string_view catalogue_header_line();

// A catalogue that says it is UTF-8 begins with the byte order mark, before its header line; spreadsheets
// read it in the local 8-bit code page without it.
inline constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";

// How many of a file's first bytes tell whether it is a catalogue: the mark and the header line.
std::size_t catalogue_start_length();

// The bytes after the mark, when they begin with it.
std::string_view without_utf8_mark(std::string_view start);

// Whether a file whose first bytes are `start` (catalogue_start_length() of them, or the whole file when
// it is shorter) is a catalogue: empty or the mark alone, or beginning with the whole header line, after
// the mark where there is one.
bool holds_a_catalogue(std::string_view start);

// Whether those first bytes are a catalogue's, header line and all: a file that is not empty.
bool begins_like_a_catalogue(std::string_view start);

// Why a run must not write into a file as its catalogue, besides its being another file of the run.
enum class CatalogueRefusal {
    is_not_a_catalogue,  // it holds something, and not the header line
    is_not_a_report,     // a report (-j) that holds something, and does not begin with '{'
};

// A write into the catalogue failed part way, and cutting the torn part back off failed too.
struct TornLine {
    std::string path;
    int error_number;
};

using CatalogueFailure = std::variant<SystemError, Refusal<CatalogueRefusal>, TornLine, Refusal<RunFileRole>>;
using CatalogueOutcome = Expected<void, CatalogueFailure>;

// How the recording's texts are written into its line.
enum class TextEncoding {
    as_stored,  // the bytes as the recorder stored them, which existing catalogues hold
    utf_8,      // decoded from their broadcast character table (-u)
};

// An identifier or PID as a line writes it: four lower-case hexadecimal digits at least.
std::string catalogue_identifier(unsigned value);

// One recording's line. Program and Description are always quoted, Filename and Channel only when they
// hold a comma, a quote, a CR or an LF, and a quote inside a quoted field is doubled, so that every line
// reads as 19 fields; quoting applies to the texts as written. Filename is written as given, but in
// UTF-8 (a catalogue with the mark) as utf8_from_any_bytes reads it. A text, or the Filename, that a
// spreadsheet would run as a formula (beginning with =, +, -, @, a tab or a CR, or with =, +, - or @
// after spaces and tabs) gets an apostrophe in front; a Filename beginning with an apostrophe gets one
// more. Without -u a text that names its ISO 8859 table (0x10 0x00 0xNN) is written whole, without the
// selector.
std::string catalogue_row(std::string_view input_path, const RecordingHeader& header,
    TextEncoding encoding = TextEncoding::as_stored);

// What the catalogue step needs to add one recording's line.
struct CatalogueEntry {
    std::string catalogue_path;
    std::string filename;  // the Filename column: the recording's path as given
    bool start_afresh = false;  // empty the catalogue first (-a)
    // The recordings whose lines -a may empty without keeping a copy: this run's, or a batch's. A
    // catalogue holding any other line is copied to "<catalogue>~" first.
    std::vector<RecordingKey> own_recordings = {};
    TextEncoding encoding = TextEncoding::as_stored;
    // The recording is about to be deleted: the line, and a new catalogue's folder entry, are flushed
    // to the disk, this line being the archive's only record of it.
    bool make_durable = false;
    // Say "creating" or "appending" before the catalogue is opened; when not, "appending" is said only
    // if a line is appended after all.
    bool announce = true;
    // A catalogue that is no regular file, already open (a pipe a batch keeps): the line goes through
    // it, under its lock, instead of through a new open of the path, and it is left open.
    NativeHandle through = no_handle;
};

// The catalogue as the catalogue step holds it: open, locked, and knowing whether the header is due.
struct CatalogueFile {
    File file;
    FileIdentity identity;  // as opened, and for a regular file as measured under the lock
    bool header_due = false;
    bool mark_due = false;  // this run writes the header line, with -u: the UTF-8 mark goes first
    TextEncoding encoding = TextEncoding::as_stored;  // how the line is written: UTF-8 in a marked catalogue
    bool appending_announced = false;
    bool created = false;             // this run made the file, so its folder entry is new too
    bool needs_line_feed = false;     // the last line was cut short; the new one must start afresh
    bool needs_closing_quote = false; // and it was cut inside a quoted field, which must be closed first
    std::uint64_t size_before = 0;    // what a failed write is cut back to
    std::string written;              // what the append wrote, header and repairs included
    FileIdentity after_append;        // the file right after it, still under the lock
    // For a line about to be the only record of a recording that is deleted: the exclusive lock, kept
    // after the close until this is dropped, so that no other run empties the line meanwhile.
    File lock;
};

// Why the run must not append to the file at `path`, or none when it may: it is the recording or the
// .ts file of the run, or a file with something in it that is not a catalogue. `start` is as for
// holds_a_catalogue.
CatalogueOutcome refusal_to_catalogue_into(const std::string& path, const FileIdentity& catalogue, std::string_view start,
    const FilesOfTheRun& files);

// Opens the catalogue, creating it if needed, compares what was opened with the run's other files and
// names it to them as opened,
// takes an exclusive lock that is held until the line is written, and under the lock checks that it
// holds a catalogue. A new or empty catalogue is due a header line, and with `start_afresh` the
// catalogue is emptied under the lock first, once a catalogue holding a line of any but the entry's own
// recordings has been copied whole to "<catalogue>~" (or "<catalogue>.~N~" when that holds lines the
// catalogue lacks) and flushed to the disk; either way "creating" is announced. Nothing is written yet.
[[nodiscard]] CatalogueOutcome ensure_catalogue_header(const CatalogueEntry& entry, FilesOfTheRun& files,
    CatalogueFile& catalogue, ProgressReporter& reporter);

// Writes the header line, when due, and the recording's line in one write under the lock taken above,
// so that runs side by side on one catalogue neither interleave nor lose lines; then closes it. A line
// is written whole or not at all: a failed write is cut back off a regular file.
[[nodiscard]] CatalogueOutcome append_catalogue_row(CatalogueFile& catalogue, const CatalogueEntry& entry,
    const RecordingHeader& header, ProgressReporter& reporter);

// Closes the catalogue without a line, its line being there already, after flushing it to the disk as
// append_catalogue_row would. With `make_durable` the catalogue and its folder are flushed to the disk
// first, and its lock is kept in `catalogue.lock`.
[[nodiscard]] CatalogueOutcome close_catalogue(CatalogueFile& catalogue, const CatalogueEntry& entry);
