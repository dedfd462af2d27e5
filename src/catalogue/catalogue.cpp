#include "catalogue/catalogue.h"

#include "catalogue/broadcast_text.h"
#include "catalogue/broadcast_time.h"
#include "catalogue/file_names.h"
#include "platform/file.h"
#include "recording/recording_header.h"
#include "shared/number_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <iterator>
#include <unordered_set>
#include <vector>

namespace {

void append_quoted(std::string& line, std::string_view text)
{
    line += '"';
    for (char character : text) {
        if (character == '"')
            line += '"';
        line += character;
    }
    line += "\",";
}

void append_text(std::string& line, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") != std::string_view::npos) {
        append_quoted(line, text);
        return;
    }
    line += text;
    line += ',';
}

// A spreadsheet runs a cell that begins with one of these as a formula, and the texts come off the air
// or from a file's name: such a text gets an apostrophe in front, which spreadsheets show as text.
// A spreadsheet that trims spaces on import would run " =1+1" too, so the guard looks past leading
// spaces and tabs.
constexpr std::string_view formula_starts = "=+-@\t\r";
constexpr std::string_view formula_signs = "=+-@";

std::string guarded(std::string text)
{
    std::size_t first = text.find_first_not_of(" \t");
    bool formula = !text.empty() && formula_starts.find(text.front()) != std::string_view::npos;
    if (formula || (first != std::string::npos && formula_signs.find(text[first]) != std::string_view::npos))
        text.insert(text.begin(), '\'');
    return text;
}

// The Filename is guarded too, and one that begins with an apostrophe of its own gets one more, so
// that reading the catalogue back takes off exactly one.
std::string guarded_filename(std::string_view path)
{
    std::string text = guarded(std::string(path));
    if (text.size() == path.size() && text.starts_with('\''))
        text.insert(text.begin(), '\'');
    return text;
}

// A text as stored, but for one that names its ISO 8859 table with 0x10 0x00 0xNN: written without
// those three bytes, and not cut at the selector's own zero byte.
std::string_view stored_text(std::string_view plain, std::string_view to_decode)
{
    if (to_decode.starts_with(std::string_view("\x10\x00", 2)))
        return to_decode.substr(std::min<std::size_t>(to_decode.size(), 3));
    return plain;
}

// The text a catalogue line holds: decoded to UTF-8, or as stored.
std::string text_for_line(std::string_view plain, std::string_view to_decode, TextEncoding encoding)
{
    if (encoding == TextEncoding::utf_8)
        return guarded(decode_broadcast_text(to_decode));
    return guarded(std::string(stored_text(plain, to_decode)));
}

std::string_view service_type_name(unsigned service_type)
{
    switch (service_type) {
    case 0:
        return "TV";
    case 1:
        return "Radio";
    default:
        return "???";
    }
}

// A catalogue is new when it does not exist or is an empty file (or holds the UTF-8 mark alone): either
// way it still needs its header.
// Existence is what decides, not whether the file can be read, so an existing catalogue is never taken
// for a new one and truncated.
bool is_new_catalogue(const std::string& path)
{
    FileIdentity catalogue = identify_path(path);
    if (!catalogue.exists)
        // Only a file that is surely absent counts; anything else is left for the open to judge.
        return catalogue.missing;
    return catalogue.regular_file && (catalogue.size == 0 || (catalogue.size == utf8_mark.size() && read_file_start(path, utf8_mark.size()) == utf8_mark));
}

// The last line was cut short when the catalogue does not end with a line feed. A catalogue that cannot
// be read through its handle is taken as whole.
bool ends_with_line_feed(const CatalogueFile& catalogue)
{
    char last = '\n';
    std::int64_t got = read_at(catalogue.file.native(), &last, 1, catalogue.size_before - 1);
    return got != 1 || last == '\n';
}

// Whether the catalogue ends inside a quoted field: every quote opens or closes one, a doubled quote
// inside a field doing both. The whole file is counted, not its last line alone, because a quoted
// description may hold line breaks; read only to repair a line cut short.
bool ends_inside_quotes(const CatalogueFile& catalogue)
{
    std::array<char, 64 * 1024> piece;
    bool inside = false;
    for (std::uint64_t offset = 0; offset < catalogue.size_before;) {
        std::int64_t got = read_at(catalogue.file.native(), piece.data(), piece.size(), offset);
        if (got <= 0)
            break;
        for (char character : std::string_view(piece.data(), static_cast<std::size_t>(got)))
            inside ^= character == '"';
        offset += static_cast<std::uint64_t>(got);
    }
    return inside;
}

SystemError fail_to_write(const std::string& path, int error_number)
{
    return { Action::write, path, error_number };
}

// Opens the catalogue, creating it if needed but never emptying it: when starting afresh the file is
// emptied only once the lock is held, and otherwise a catalogue that appeared meanwhile is kept. What
// was opened must not be one of the run's other files.
CatalogueOutcome open_catalogue(const CatalogueEntry& entry, FilesOfTheRun& files, CatalogueFile& catalogue,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    if (entry.through != no_handle) {
        catalogue.file = duplicate(entry.through);
    } else {
        FileForAppending opened = open_for_appending(path);
        catalogue.file = std::move(opened.file);
        catalogue.created = opened.created;
    }
    if (!catalogue.file.is_open())
        return SystemError { Action::open, path, errno };
    catalogue.identity = identify(catalogue.file.native());
    TRY(refusal_to_catalogue_into(path, catalogue.identity, {}, files));
    files.name(RunFileRole::catalogue, path, catalogue.identity, reporter);
    return {};
}

// All of an open file's bytes, read through its handle.
Expected<std::string, int> read_whole(NativeHandle file)
{
    std::string bytes;
    std::array<char, 64 * 1024> piece;
    for (;;) {
        std::int64_t got = read_at(file, piece.data(), piece.size(), bytes.size());
        if (got < 0)
            return Unexpected { errno };
        if (got == 0)
            return bytes;
        bytes.append(piece.data(), static_cast<std::size_t>(got));
    }
}

std::unordered_set<std::string_view> lines_of(std::string_view text)
{
    std::unordered_set<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        lines.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Where -a keeps the lines it empties: "<catalogue>~", as simple backups are named, unless that holds
// a line the catalogue lacks (an older -a's copy), or is no plain file of its own; then the next
// numbered name, "<catalogue>.~N~".
std::string copy_path_for(const std::string& path, std::string_view old_lines, const FilesOfTheRun& files, const FileIdentity& catalogue)
{
    std::string simple = path + "~";
    FileIdentity existing = identify_path(simple);
    if (!existing.exists && existing.missing)
        return simple;
    bool own_file = existing.regular_file && !is_same_file(existing, catalogue) && !files.holds(existing);
    if (own_file) {
        std::unordered_set<std::string_view> kept = lines_of(old_lines);
        std::string earlier = read_file_start(simple, static_cast<std::size_t>(existing.size));
        std::unordered_set<std::string_view> earlier_lines = lines_of(earlier);
        if (earlier.size() == existing.size
            && std::all_of(earlier_lines.begin(), earlier_lines.end(), [&kept](std::string_view line) { return kept.contains(line); }))
            return simple;
    }
    PathParts parts = split_path(path);
    std::uint64_t highest = 0;
    if (Expected<std::vector<FolderEntry>, int> entries = list_folder(parts.folder)) {
        std::string prefix = parts.name + ".~";
        for (const FolderEntry& entry : *entries) {
            const std::string& name = entry.name;
            if (!name.starts_with(prefix) || !name.ends_with('~') || name.size() <= prefix.size() + 1)
                continue;
            std::string_view digits = std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 1);
            std::uint64_t number = 0;
            auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (error == std::errc() && end == digits.data() + digits.size())
                highest = std::max(highest, number);
        }
    }
    return path + ".~" + number_text(highest + 1) + "~";
}

// -a: what the catalogue holds is copied whole, and flushed to the disk, before it is emptied, unless
// every line is one of the entry's own recordings'. The copy is read through the handle that holds the
// lock, so no other run can change it meanwhile.
CatalogueOutcome keep_old_lines(const CatalogueEntry& entry, const FilesOfTheRun& files, const CatalogueFile& catalogue,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    Expected<std::string, int> read = read_whole(catalogue.file.native());
    if (!read)
        return SystemError { Action::read, path, read.error() };
    const std::string& old_lines = *read;
    CatalogueHoldings holdings;
    holdings.feed(old_lines);
    std::size_t own = 0;
    for (const RecordingKey& key : entry.own_recordings)
        own += holdings.count(key);
    if (holdings.records() <= own)
        return {};
    std::string copy_path = copy_path_for(path, old_lines, files, catalogue.identity);
    File copy = open_for_writing(copy_path);
    if (!copy.is_open())
        return SystemError { Action::write, copy_path, errno };
    if (!truncate_file(copy.native(), 0) || !write_all(copy.native(), old_lines) || !flush_to_disk(copy.native()) || !copy.close()
        || !flush_folder_of(copy_path))
        return SystemError { Action::write, copy_path, errno };
    reporter.kept_old_lines(holdings.records(), copy_path);
    return {};
}

// Takes the lock, held until the line is written, and judges the catalogue again under it, as opened:
// what another program put at the path since the run's first look, or during the copy, is never
// appended to or emptied. With -a it is then emptied. Its first bytes, as they are then.
Expected<std::string, CatalogueFailure> judge_under_lock(const CatalogueEntry& entry, const FilesOfTheRun& files,
    CatalogueFile& catalogue, ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    bool regular = catalogue.identity.regular_file;
    // A lock that fails on a device or a pipe costs nothing: no line there can be spoilt by another run.
    if (lock_exclusively(catalogue.file.native(), true) == LockOutcome::error && regular)
        return SystemError { Action::lock, path, errno };
    if (!regular)
        return std::string();
    std::string start = read_start(catalogue.file.native(), catalogue_start_length());
    if (!holds_a_catalogue(start))
        return Refusal<CatalogueRefusal> { Action::write, path, CatalogueRefusal::is_not_a_catalogue };
    if (entry.start_afresh) {
        TRY(keep_old_lines(entry, files, catalogue, reporter));
        if (!truncate_file(catalogue.file.native(), 0))
            return fail_to_write(path, errno);
        start.clear();
    }
    return start;
}

// What the line must bring with it, measured under the lock after any emptying: another run may have
// created the file and not yet written its header, and whoever writes first does. A device such as
// /dev/full is given a header only when the catalogue is started afresh.
CatalogueOutcome measure_under_lock(const CatalogueEntry& entry, CatalogueFile& catalogue, std::string_view start)
{
    bool marked = start.starts_with(utf8_mark);
    catalogue.header_due = entry.start_afresh;
    if (catalogue.identity.regular_file) {
        FileIdentity now = identify(catalogue.file.native());
        if (!now.exists)
            return fail_to_write(entry.catalogue_path, errno);
        catalogue.identity = now;
        catalogue.size_before = now.size;
        bool mark_alone = marked && catalogue.size_before == utf8_mark.size();
        catalogue.header_due = catalogue.size_before == 0 || mark_alone;
        catalogue.needs_line_feed = catalogue.size_before > 0 && !mark_alone && !ends_with_line_feed(catalogue);
        catalogue.needs_closing_quote = catalogue.needs_line_feed && ends_inside_quotes(catalogue);
    }
    // The run that writes the header line decides whether the mark goes first, and a catalogue that has
    // it is written in UTF-8 by every run, so that it never holds two encodings.
    catalogue.mark_due = catalogue.header_due && !marked && entry.encoding == TextEncoding::utf_8;
    catalogue.encoding = marked || catalogue.mark_due ? TextEncoding::utf_8 : entry.encoding;
    return {};
}


}

std::string_view catalogue_header_line()
{
    return "Filename,Service No.,Channel,Type,Start Time,Start Day,End Time,End Day,Duration,Program,"
           "Original Network Id,Transport Stream Id,Service Id,Event Id,Video pid,Audio pid,PCR pid,PMT pid,"
           "Description,\n";
}

std::string catalogue_identifier(unsigned value)
{
    return number_text(value, 4, NumberBase::hexadecimal);
}

std::size_t catalogue_start_length()
{
    return utf8_mark.size() + catalogue_header_line().size();
}

std::string_view without_utf8_mark(std::string_view start)
{
    return start.starts_with(utf8_mark) ? start.substr(utf8_mark.size()) : start;
}

bool holds_a_catalogue(std::string_view start)
{
    return without_utf8_mark(start).empty() || begins_like_a_catalogue(start);
}

bool begins_like_a_catalogue(std::string_view start)
{
    return without_utf8_mark(start).starts_with(catalogue_header_line());
}

CatalogueOutcome refusal_to_catalogue_into(const std::string& path, const FileIdentity& catalogue, std::string_view start,
    const FilesOfTheRun& files)
{
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::catalogue, catalogue))
        return Refusal<RunFileRole> { Action::write, path, *other };
    if (!holds_a_catalogue(start))
        return Refusal<CatalogueRefusal> { Action::write, path, CatalogueRefusal::is_not_a_catalogue };
    return {};
}

std::string catalogue_row(std::string_view input_path, const RecordingHeader& header, TextEncoding encoding)
{
    std::string channel = text_for_line(header.channel_name(), header.channel_name_to_decode(), encoding);
    std::string title = text_for_line(header.event_name(), header.event_name_to_decode(), encoding);
    std::string description = text_for_line(header.event_description(), header.event_description_to_decode(), encoding);

    std::string line;
    // A catalogue in UTF-8 stays valid UTF-8 whatever bytes the recording's name holds.
    append_text(line, guarded_filename(encoding == TextEncoding::utf_8 ? utf8_from_any_bytes(input_path) : std::string(input_path)));
    append_number(line, header.service_number());
    line += ',';
    append_text(line, channel);
    line += service_type_name(header.service_type());
    line += ',';
    line += format_broadcast_time(header.start_time());
    line += ',';
    line += format_broadcast_time(header.end_time());
    line += ',';
    append_number(line, header.duration_hours(), 2);
    line += ':';
    append_number(line, header.duration_minutes(), 2);
    line += ',';
    append_quoted(line, title);
    for (unsigned value : { header.original_network_id(), header.transport_stream_id(), header.service_id(),
             header.event_id(), header.video_pid(), header.audio_pid(), header.pcr_pid(), header.pmt_pid() }) {
        line += catalogue_identifier(value);
        line += ',';
    }
    append_quoted(line, description);
    line += '\n';
    return line;
}

CatalogueOutcome ensure_catalogue_header(const CatalogueEntry& entry, FilesOfTheRun& files, CatalogueFile& catalogue,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    bool creating = entry.start_afresh || is_new_catalogue(path);
    // An existing catalogue is announced as appended to before it is opened, so that a failure to open
    // it reads as part of that step, as it does for a new one.
    if (entry.announce && creating)
        reporter.creating_catalogue(path);
    else if (entry.announce)
        reporter.appending_to_catalogue(path);
    catalogue.appending_announced = entry.announce && !creating;
    TRY(open_catalogue(entry, files, catalogue, reporter));
    TRY_VALUE(start, judge_under_lock(entry, files, catalogue, reporter));
    return measure_under_lock(entry, catalogue, start);
}

CatalogueOutcome append_catalogue_row(CatalogueFile& catalogue, const CatalogueEntry& entry, const RecordingHeader& header,
    ProgressReporter& reporter)
{
    const std::string& path = entry.catalogue_path;
    if (!catalogue.appending_announced)
        reporter.appending_to_catalogue(path);
    // A line cut short before is ended first, its open quote closed, so that this one is its own record.
    std::string text;
    if (catalogue.needs_closing_quote)
        text += '"';
    if (catalogue.needs_line_feed)
        text += '\n';
    if (catalogue.mark_due)
        text += utf8_mark;
    if (catalogue.header_due)
        text += catalogue_header_line();
    text += catalogue_row(entry.filename, header, catalogue.encoding);
    bool regular = catalogue.identity.regular_file;
    if (!write_all(catalogue.file.native(), text)) {
        int error_number = errno;
        // Still under the lock, so nobody has written after the part that went in.
        if (regular && !truncate_file(catalogue.file.native(), catalogue.size_before))
            return TornLine { path, error_number };
        return fail_to_write(path, error_number);
    }
    catalogue.after_append = identify(catalogue.file.native());
    catalogue.written = std::move(text);
    return close_catalogue(catalogue, entry);
}

CatalogueOutcome close_catalogue(CatalogueFile& catalogue, const CatalogueEntry& entry)
{
    const std::string& path = entry.catalogue_path;
    bool durable = entry.make_durable && catalogue.identity.regular_file;
    if (durable && !flush_to_disk(catalogue.file.native()))
        return fail_to_write(path, errno);
    if (durable) {
        catalogue.lock = duplicate(catalogue.file.native());
        if (!catalogue.lock.is_open())
            return SystemError { Action::lock, path, errno };
    }
    // The open kept by the caller outlives this handle, and the lock with it, but for this line only.
    if (entry.through != no_handle)
        unlock(catalogue.file.native());
    if (!catalogue.file.close())
        return fail_to_write(path, errno);
    // An earlier run that did not delete may have left the catalogue's own folder entry unflushed.
    if (durable && !flush_folder_of(path))
        return fail_to_write(path, errno);
    return {};
}
