#include "catalogue/report.h"

#include "catalogue/broadcast_text.h"
#include "catalogue/broadcast_time.h"
#include "catalogue/file_names.h"
#include "platform/file_identity.h"
#include "recording/recording_header.h"
#include "recording/stream_check.h"
#include "shared/json_line.h"
#include "shared/number_text.h"

#include <cerrno>

namespace {

std::string_view outcome_name(ReportOutcome outcome)
{
    switch (outcome) {
    case ReportOutcome::converted:
        return "converted";
    case ReportOutcome::stream_only:
        return "stream_only";
    case ReportOutcome::line_only:
        return "line_only";
    case ReportOutcome::skipped:
        return "skipped";
    case ReportOutcome::failed:
        return "failed";
    }
    return {};
}

std::optional<std::string> utf8_path(const std::optional<std::string>& path)
{
    if (!path)
        return std::nullopt;
    return utf8_from_any_bytes(*path);
}

// The last part of a path, after either separator.
std::string_view last_part(std::string_view path)
{
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

constexpr std::string_view header_numbers[] = { "service_number", "service_type", "original_network_id", "transport_stream_id",
    "service_id", "event_id", "video_pid", "audio_pid", "pcr_pid", "pmt_pid" };
constexpr std::string_view header_others[] = { "start", "end", "duration_minutes", "channel", "program", "description" };

void add_header(JsonLine& object, const RecordingHeader* header)
{
    if (!header) {
        for (std::string_view name : header_numbers)
            object.null(name);
        for (std::string_view name : header_others)
            object.null(name);
        return;
    }
    const unsigned numbers[] = { header->service_number(), header->service_type(), header->original_network_id(),
        header->transport_stream_id(), header->service_id(), header->event_id(), header->video_pid(), header->audio_pid(),
        header->pcr_pid(), header->pmt_pid() };
    for (std::size_t index = 0; index < std::size(header_numbers); ++index)
        object.number(header_numbers[index], numbers[index]);
    object.text_or_null("start", iso_broadcast_time(header->start_time()));
    object.text_or_null("end", iso_broadcast_time(header->end_time()));
    object.number("duration_minutes", std::uint64_t { header->duration_hours() } * 60 + header->duration_minutes());
    object.text("channel", decode_broadcast_text(header->channel_name_to_decode()));
    object.text("program", decode_broadcast_text(header->event_name_to_decode()));
    object.text("description", decode_broadcast_text(header->event_description_to_decode()));
}

void add_check(JsonLine& object, const StreamReport* check)
{
    if (!check) {
        object.null("check");
        return;
    }
    JsonLine counts;
    counts.number("packets", check->packets)
        .number("sync_losses", check->sync_losses)
        .number("bytes_skipped", check->bytes_skipped)
        .number("sync_errors", check->sync_errors)
        .number("continuity_errors", check->continuity_errors)
        .number("pcr_jumps", check->pcr_jumps)
        .number("marked_in_error", check->marked_in_error)
        .number("scrambled", check->scrambled)
        .number("cut_short_last_packet_bytes", check->last_packet_bytes);
    // The PCR runs at 27 MHz: 27000 ticks to the millisecond.
    std::optional<std::uint64_t> milliseconds;
    if (check->pcr_duration)
        milliseconds = *check->pcr_duration / 27000;
    counts.thousandths("pcr_seconds", milliseconds);
    object.object("check", counts);
}

SystemError failed_to(Action action, const std::string& path, int error_number)
{
    return { action, path, error_number };
}

}

std::optional<std::string> iso_broadcast_time(BroadcastTime time)
{
    auto modified_julian_date = static_cast<std::uint16_t>(time >> 16);
    unsigned hour = time >> 8 & 0xFF;
    unsigned minute = time & 0xFF;
    if (modified_julian_date < 15079 || hour > 23 || minute > 59)
        return std::nullopt;
    CalendarDate date = mjd_to_date(modified_julian_date);
    std::string text;
    append_number(text, date.year, 4);
    text += '-';
    append_number(text, date.month, 2);
    text += '-';
    append_number(text, date.day, 2);
    text += 'T';
    append_number(text, hour, 2);
    text += ':';
    append_number(text, minute, 2);
    text += 'Z';
    return text;
}

std::string report_line(const ReportEntry& entry)
{
    JsonLine object;
    object.text("recording", utf8_from_any_bytes(entry.recording_path))
        .text("name", utf8_from_any_bytes(last_part(entry.name)))
        .text_or_null("ts", utf8_path(entry.stream_path))
        .text("outcome", outcome_name(entry.outcome))
        .text_or_null("reason", utf8_path(entry.reason))
        .number("stream_bytes", entry.stream_bytes)
        .text("catalogue", utf8_from_any_bytes(entry.catalogue_path));
    add_header(object, entry.header);
    add_check(object, entry.check);
    return object.line();
}

bool holds_a_report(std::string_view start)
{
    return start.empty() || start.front() == '{';
}

CatalogueOutcome append_report_line(ReportFile& report, FilesOfTheRun& files, std::string_view line, ProgressReporter& reporter)
{
    const std::string& path = report.path;
    File opened = report.kept.is_open() ? duplicate(report.kept.native()) : open_for_appending(path).file;
    if (!opened.is_open())
        return failed_to(Action::open, path, errno);
    FileIdentity identity = identify(opened.native());
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::report, identity))
        return Refusal<RunFileRole> { Action::write, path, *other };
    files.name(RunFileRole::report, path, identity, reporter);
    bool regular = identity.regular_file;
    // A lock that fails on a pipe costs nothing: a line goes into a pipe whole or not at all up to the
    // pipe's own size, and no line there can be spoilt afterwards.
    if (lock_exclusively(opened.native(), true) == LockOutcome::error && regular)
        return failed_to(Action::lock, path, errno);
    std::uint64_t size_before = 0;
    if (regular) {
        FileIdentity locked = identify(opened.native());
        size_before = locked.size;
        if (!holds_a_report(read_start(opened.native(), 1)))
            return Refusal<CatalogueRefusal> { Action::write, path, CatalogueRefusal::is_not_a_report };
    }
    if (!write_all(opened.native(), line)) {
        int error_number = errno;
        // A line cut short would spoil the report for every reader: it goes, or the failure says so.
        if (regular && !truncate_file(opened.native(), size_before))
            return TornLine { path, error_number };
        return failed_to(Action::write, path, error_number);
    }
    if (!regular && !report.kept.is_open()) {
        report.kept = std::move(opened);
        return {};
    }
    if (!opened.close())
        return failed_to(Action::write, path, errno);
    return {};
}
