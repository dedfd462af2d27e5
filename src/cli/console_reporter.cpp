#include "cli/console_reporter.h"

#include "catalogue/catalogue.h"
#include "cli/message_routing.h"
#include "platform/console.h"
#include "recording/recording_header.h"
#include "recording/stream_check.h"
#include "shared/number_text.h"

#include <array>
#include <cmath>

namespace {

// "1 packet", "2 packets".
std::string counted(std::uint64_t value, std::string_view one, std::string_view many)
{
    return number_text(value) + " " + std::string(value == 1 ? one : many);
}

// `bytes` / `divisor` in tenths, rounded to the nearest and a half to the even one.
std::uint64_t tenths_of(std::uint64_t bytes, std::uint64_t divisor)
{
    std::uint64_t remainder = bytes % divisor * 10;
    std::uint64_t tenths = bytes / divisor * 10 + remainder / divisor;
    std::uint64_t left = remainder % divisor;
    if (left * 2 > divisor || (left * 2 == divisor && tenths % 2 == 1))
        ++tenths;
    return tenths;
}

// "1.4" for 14 tenths.
std::string with_tenth(std::uint64_t tenths)
{
    return number_text(tenths / 10) + "." + number_text(tenths % 10);
}

std::string_view action_words(Action action)
{
    switch (action) {
    case Action::open:
        return "cannot open ";
    case Action::read:
        return "cannot read ";
    case Action::write:
    case Action::get_copy_buffer:
        return "cannot write ";
    case Action::lock:
        return "cannot lock ";
    case Action::remove:
        return "cannot delete ";
    }
    return {};
}

std::string reason_words(StreamRefusal reason)
{
    switch (reason) {
    case StreamRefusal::another_run_is_writing:
        return "another run is writing it";
    case StreamRefusal::recording_shrank:
        return "the file shrank during the copy";
    }
    return {};
}

std::string reason_words(CatalogueRefusal reason)
{
    switch (reason) {
    case CatalogueRefusal::is_not_a_catalogue:
        return "it is not a catalogue";
    case CatalogueRefusal::is_not_a_report:
        return "it is not a report";
    }
    return {};
}

// A file the run would write is another file of the run: the one named.
std::string reason_words(RunFileRole other)
{
    return std::string(run_file_words(other));
}

std::string reason_words(RunRefusal reason)
{
    switch (reason) {
    case RunRefusal::output_is_a_recording:
        return "it is a recording";
    case RunRefusal::output_is_a_catalogue:
        return "it is a catalogue";
    case RunRefusal::output_is_not_a_folder:
        return "it is not a folder";
    case RunRefusal::another_run_is_converting:
        return "another run is converting it";
    case RunRefusal::no_longer_the_file_read:
        return "it is no longer the file that was read";
    case RunRefusal::default_output_holds_another:
        return "it holds another recording's stream (name it with -o to replace it)";
    case RunRefusal::output_named_like_a_catalogue:
        return "its name is a catalogue's";
    case RunRefusal::catalogue_named_like_a_stream:
        return "its name is a stream's";
    case RunRefusal::catalogue_named_like_a_recording:
        return "its name is a recording's";
    }
    return {};
}

std::string reason_words(BatchRefusal reason)
{
    switch (reason) {
    case BatchRefusal::output_claimed:
        return "it is the .ts of ";
    case BatchRefusal::output_holds_something:
        return "it holds another recording's stream";
    }
    return {};
}

std::string header_words(const BadRecording& recording)
{
    switch (recording.why) {
    case HeaderRejection::wrong_magic:
        return "it does not begin with " + std::string(recording_magic);
    case HeaderRejection::unknown_version:
        return "format version 0x" + catalogue_identifier(static_cast<unsigned>(recording.found)) + " is unknown";
    case HeaderRejection::too_short:
        return "it is " + number_text(recording.found) + " bytes long, too short for a recording";
    case HeaderRejection::no_stream:
    case HeaderRejection::none:
        break;
    }
    return "no transport stream at offset " + number_text(transport_stream_offset);
}

// Each kind of failure as a message says it after "error: ".
std::string described(const SystemError& error)
{
    // The address that could not be had, as the message has always shown it.
    if (error.action == Action::get_copy_buffer)
        return "ts_buf=0";
    return std::string(action_words(error.action)) + error.path + ": " + system_error_text(error.error_number);
}

template <typename Reason>
std::string described(const Refusal<Reason>& refusal)
{
    return std::string(action_words(refusal.action)) + refusal.path + ": " + reason_words(refusal.reason) + refusal.other_path;
}

std::string described(const BadRecording& recording)
{
    return "bad .rec file: " + header_words(recording);
}

std::string described(const TornLine& torn)
{
    return "cannot write " + torn.path + ": " + system_error_text(torn.error_number) + "; its last line may be incomplete";
}

std::string described(const Interrupted& interruption)
{
    return interruption.path + (interruption.output_not_whole ? " is not whole" : " was not finished");
}

// What a failure's message begins with.
std::string_view failure_label(const Failure& failure)
{
    return std::holds_alternative<Interrupted>(failure) ? "interrupted: " : "error: ";
}

std::string_view keep_words(KeepReason reason)
{
    switch (reason) {
    case KeepReason::no_stream_written:
        return "no .ts file written";
    case KeepReason::input_not_a_regular_file:
        return "it is not a regular file";
    case KeepReason::output_not_a_regular_file:
        return "the .ts file is not a regular file";
    case KeepReason::output_changed:
        return "the .ts file changed after it was written";
    case KeepReason::catalogue_not_a_regular_file:
        return "the catalogue is not a regular file";
    case KeepReason::changed_during_the_run:
        return "it changed during the run";
    }
    return {};
}

}

std::string describe_size(std::uint64_t bytes)
{
    if (bytes < 1024)
        return counted(bytes, "byte", "bytes");
    constexpr std::array<std::string_view, 5> units { "KiB", "MiB", "GiB", "TiB", "PiB" };
    std::size_t unit = 0;
    std::uint64_t divisor = 1024;
    // Decided on the value as it is shown, so that 1048575 bytes are "1.0 MiB", not "1024.0 KiB".
    std::uint64_t tenths = tenths_of(bytes, divisor);
    for (; tenths >= 10240 && unit + 1 < units.size(); ++unit) {
        divisor *= 1024;
        tenths = tenths_of(bytes, divisor);
    }
    return with_tenth(tenths) + " " + std::string(units[unit]);
}

std::string describe_duration(double seconds)
{
    if (seconds < 9.95 && seconds != std::floor(seconds))
        return with_tenth(static_cast<std::uint64_t>(seconds * 10 + 0.5)) + " s";
    auto whole = static_cast<std::uint64_t>(seconds + 0.5);
    if (whole < 60)
        return number_text(whole) + " s";
    if (whole < 3600)
        return number_text(whole / 60) + " min " + number_text(whole % 60) + " s";
    return number_text(whole / 3600) + " h " + number_text(whole / 60 % 60) + " min";
}

std::string describe_stream(const StreamReport& report)
{
    std::string text = counted(report.packets, "packet", "packets");
    if (report.sync_losses != 0)
        text += ", " + counted(report.sync_losses, "sync loss", "sync losses") + " (" + counted(report.bytes_skipped, "byte", "bytes")
            + " skipped)";
    if (report.sync_errors != 0)
        text += ", " + counted(report.sync_errors, "sync error", "sync errors");
    if (report.continuity_errors != 0)
        text += ", " + counted(report.continuity_errors, "continuity error", "continuity errors");
    if (report.pcr_jumps != 0)
        text += ", " + counted(report.pcr_jumps, "PCR jump", "PCR jumps");
    if (report.marked_in_error != 0)
        text += ", " + number_text(report.marked_in_error) + " marked in error";
    if (report.scrambled != 0)
        text += ", " + number_text(report.scrambled) + " scrambled";
    if (report.last_packet_bytes != 0)
        text += ", a last packet of " + counted(report.last_packet_bytes, "byte", "bytes");
    if (!report.has_errors())
        text += ", no errors";
    if (!report.pcr_duration)
        return text + ", no PCR";
    // To the nearest second: the span from the first PCR to the last falls short of the running time
    // by up to one PCR interval, so cutting the fraction off would make a six-second stream five.
    std::uint64_t seconds = (*report.pcr_duration + pcr_ticks_per_second / 2) / pcr_ticks_per_second;
    return text + ", " + number_text(seconds / 3600, 2) + ":" + number_text(seconds / 60 % 60, 2) + ":" + number_text(seconds % 60, 2)
        + " by PCR";
}

std::string describe_failure(const Failure& failure)
{
    return std::visit([](const auto& kind) { return described(kind); }, failure);
}

std::string failure_reason(const Failure& failure)
{
    return (std::holds_alternative<Interrupted>(failure) ? "interrupted: " : "") + describe_failure(failure);
}

std::string describe_skip(SkipReason reason, const std::string& catalogue_path)
{
    switch (reason) {
    case SkipReason::already_catalogued:
        return "already in " + catalogue_path;
    case SkipReason::gone:
        return "it is gone";
    case SkipReason::being_converted:
        return "another run is converting it";
    }
    return {};
}

void ConsoleReporter::keep_messages_out_of(const FileIdentity& file)
{
    if (routing_)
        routing_->keep_out_of(file);
}

void ConsoleReporter::writing_stream(const std::string& output_path)
{
    say("\nWriting ", output_path);
}

void ConsoleReporter::copying_stream()
{
    say("\nprocessing file ...");
}

void ConsoleReporter::chunk_done()
{
    say(".");
}

void ConsoleReporter::stream_done()
{
    say(" done");
}

void ConsoleReporter::checking_stream()
{
    say("\nchecking stream ...");
}

void ConsoleReporter::comparing_stream(const std::string& output_path)
{
    say("\ncomparing ", output_path + " with its recording ...");
}

void ConsoleReporter::stream_compared(bool equal)
{
    say(equal ? " the same" : " it differs");
}

void ConsoleReporter::stream_checked(const StreamReport& report)
{
    say("\nstream: ", describe_stream(report));
}

void ConsoleReporter::creating_catalogue(const std::string& catalogue_path)
{
    say("\ncreating ", catalogue_path);
}

void ConsoleReporter::kept_old_lines(std::uint64_t lines, const std::string& copy_path)
{
    say("\nkept ", counted(lines, "old line", "old lines") + " in " + copy_path);
}

void ConsoleReporter::appending_to_catalogue(const std::string& catalogue_path)
{
    say("\nappending ", catalogue_path);
}

void ConsoleReporter::reading_recording(const std::string& input_path)
{
    hold_or_say("\nReading ", input_path);
}

void ConsoleReporter::reading_header()
{
    hold_or_say("\nreading header ...", {});
}

void ConsoleReporter::say(std::string_view text, std::string_view argument)
{
    if (!held_.empty()) {
        console_.print(held_);
        held_.clear();
    }
    holding_ = false;
    console_.print(text, argument);
}

void ConsoleReporter::hold_or_say(std::string_view text, std::string_view argument)
{
    if (!holding_) {
        say(text, argument);
        return;
    }
    held_ += text;
    held_ += argument;
}

void ConsoleReporter::skipping(const std::string& input_path, SkipReason reason, const std::string& catalogue_path)
{
    // What a skipped recording says is its place and why; its reading is nothing to report.
    held_.clear();
    say("\nskipping ", input_path + ": " + describe_skip(reason, catalogue_path));
}

void ConsoleReporter::batch_recording(const BatchPlace& place)
{
    held_.clear();
    std::string line = number_text(place.number) + " of " + number_text(place.count);
    if (place.second_look)
        line += ", a second look";
    line += " (" + (place.size ? describe_size(*place.size) : std::string("size unknown")) + "), " + describe_size(place.bytes_done);
    if (place.bytes_in_all)
        line += " of " + describe_size(*place.bytes_in_all);
    line += " done";
    if (place.seconds_left)
        line += ", about " + describe_duration(static_cast<double>(*place.seconds_left)) + " left";
    say("\nrecording ", line);
    holding_ = true;
}

void ConsoleReporter::not_searched(const std::string& folder_path)
{
    say("\nnot searched: ", folder_path + " is a folder");
}

void ConsoleReporter::putting_last(const std::string& input_path, const std::string& output_path)
{
    held_.clear();
    say("\nputting ", input_path + " last: another run is writing " + output_path);
}

void ConsoleReporter::keeping(const std::string& input_path, KeepReason reason)
{
    say("\nkeeping ", input_path + ": " + std::string(keep_words(reason)));
}

void ConsoleReporter::deleting(const std::string& input_path)
{
    say("\ndeleting ", input_path);
}

void ConsoleReporter::error(const Failure& failure)
{
    say("\n", std::string(failure_label(failure)) + describe_failure(failure));
}

void ConsoleReporter::batch_done(const BatchSummary& summary)
{
    std::string line = counted(summary.recordings, "recording", "recordings");
    line += ": " + number_text(summary.converted) + " converted, ";
    line += number_text(summary.skipped) + " skipped, ";
    line += number_text(summary.failures.size()) + " failed";
    say("\n", line);
    // Scripts read the lines that name a recording; the line after each says why, as it was said before.
    for (const auto& [recording, failure] : summary.failures) {
        say("\nfailed: ", recording);
        say("\n  ", std::string(failure_label(failure)) + describe_failure(failure));
    }
    for (const auto& [recording, report] : summary.stream_faults) {
        say("\nstream faults: ", recording);
        say("\n  ", describe_stream(report));
    }
    if (summary.never_reached != 0)
        say("\nnever reached: ", counted(summary.never_reached, "recording", "recordings"));
    std::uint64_t bytes = summary.bytes_written != 0 ? summary.bytes_written : summary.bytes_read;
    if (bytes == 0) {
        say("\nnothing written or read, in ", describe_duration(summary.seconds));
        return;
    }
    std::string work = summary.bytes_written != 0 ? " written in " : " read in ";
    std::string total = describe_size(bytes) + work + describe_duration(summary.seconds);
    if (summary.seconds > 0)
        total += ", " + describe_size(static_cast<std::uint64_t>(static_cast<double>(bytes) / summary.seconds)) + "/s";
    say("\n", total);
}

void ConsoleReporter::all_done()
{
    say("\nall done");
}
