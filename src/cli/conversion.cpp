#include "cli/conversion.h"

#include "archive/catalogue_watch.h"
#include "archive/stream_holding.h"
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_holdings.h"
#include "catalogue/report.h"
#include "cli/console_reporter.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "platform/interruption.h"
#include "recording/stream_check.h"

#include <algorithm>
#include <cerrno>

namespace {

ConversionResult failure_result(Failure failure)
{
    return ConversionResult { .outcome = ConversionOutcome::failed, .failure = std::move(failure) };
}

// A file's first bytes, enough to tell a recording or a catalogue by.
std::string start_of(NativeHandle file)
{
    return read_start(file, catalogue_start_length());
}

// Why a stream must not be written over a file that begins with `start`: it would destroy another
// recording or a catalogue, as a forgotten argument or a glob that expanded to several recordings
// would make it.
std::optional<RunRefusal> reason_not_to_write_stream_over(std::string_view start)
{
    if (begins_like_a_recording(start))
        return RunRefusal::output_is_a_recording;
    if (begins_like_a_catalogue(start))
        return RunRefusal::output_is_a_catalogue;
    return std::nullopt;
}

// Why a .ts file the user did not name must not be written, as judged: it holds another recording's
// stream, or other data.
RunOutcome refusal_of_holding(const Expected<OutputHolding, int>& holding, const std::string& output_path, OutputGuard guard)
{
    if (!holding)
        return SystemError { Action::read, output_path, holding.error() };
    if (*holding != OutputHolding::something_else)
        return {};
    if (guard == OutputGuard::default_name)
        return Refusal<RunRefusal> { Action::write, output_path, RunRefusal::default_output_holds_another };
    return Refusal<BatchRefusal> { Action::write, output_path, BatchRefusal::output_holds_something };
}

// Why the .ts file just opened, judged through its handle under its lock, must not be written: what
// `refusal_before_writing` found by its path, and for a name the user did not choose anything but
// nothing or this recording's own stream.
RunOutcome refusal_of_opened_output(const StreamSource& input, const OpenedOutput& output, OutputGuard guard)
{
    const FileIdentity& identity = output.written.output;
    if (!identity.regular_file)
        return {};
    if (std::optional<RunRefusal> reason = reason_not_to_write_stream_over(start_of(output.file.native())))
        return Refusal<RunRefusal> { Action::write, output.path, *reason };
    if (guard == OutputGuard::none)
        return {};
    return refusal_of_holding(judge_output(input, output.file.native(), identity), output.path, guard);
}

bool ends_with_ignoring_case(std::string_view path, std::string_view ending)
{
    path = name_as_kept(path);
    if (path.size() < ending.size())
        return false;
    return std::equal(ending.begin(), ending.end(), path.end() - static_cast<std::ptrdiff_t>(ending.size()),
        [](char wanted, char found) { return wanted == (found >= 'A' && found <= 'Z' ? found - 'A' + 'a' : found); });
}

// Called only once the .ts file and the catalogue line are on the disk and closed.
RunOutcome remove_input(const std::string& input_path, const FileIdentity& input, ConversionReporter& reporter)
{
    reporter.deleting(input_path);
    if (!names_the_file_read(input_path, input))
        return Refusal<RunRefusal> { Action::remove, input_path, RunRefusal::no_longer_the_file_read };
    if (!remove_file(input_path))
        return SystemError { Action::remove, input_path, errno };
    return {};
}

// A recording that a writer is still appending to, or that was rewritten in place, holds more than
// the .ts file does: the size must be the one copied and the modification time the one seen at open.
bool unchanged_since_copied(const StreamSource& input, const WrittenStream& stream)
{
    FileIdentity now = identify(input.handle);
    return now.exists && now.size == transport_stream_offset + stream.bytes_copied && now.modified_ns == input.identity.modified_ns;
}

// The lock kept other runs out of the .ts file, but not every program: it must still be the file at
// its path, holding exactly the bytes copied.
bool output_as_written(const std::string& output_path, const WrittenStream& stream)
{
    FileIdentity now = identify(stream.lock.native());
    return now.exists && now.size == stream.bytes_copied && is_same_file(identify_path(output_path), now);
}

// The files that keep what a deleted recording leaves: its stream, and its line. /dev/null or a FIFO
// keeps nothing, so each must be a regular file, and the .ts file still the one written.
std::optional<KeepReason> reason_to_keep_for(RunFileRole role, const FilesOfTheRun& files, const RunOptions& options,
    const WrittenStream& stream)
{
    bool regular = files[role].identity.regular_file;
    switch (role) {
    case RunFileRole::stream:
        if (!regular)
            return KeepReason::output_not_a_regular_file;
        if (!output_as_written(options.output_path, stream))
            return KeepReason::output_changed;
        return std::nullopt;
    case RunFileRole::catalogue:
        if (!regular)
            return KeepReason::catalogue_not_a_regular_file;
        return std::nullopt;
    case RunFileRole::recording:
    case RunFileRole::report:
        break;
    }
    return std::nullopt;
}

// Why a -k run keeps its recording, or empty when it may go.
std::optional<KeepReason> reason_to_keep(const RunOptions& options, const LockedRecording& recording, const WrittenStream& stream)
{
    const StreamSource& input = recording.input;
    if (options.skip_extraction)
        return KeepReason::no_stream_written;
    if (!names_the_file_read(options.input_path, input.identity))
        return KeepReason::input_not_a_regular_file;
    for (RunFileRole role : { RunFileRole::stream, RunFileRole::catalogue })
        if (std::optional<KeepReason> reason = reason_to_keep_for(role, recording.files, options, stream))
            return reason;
    if (!unchanged_since_copied(input, stream))
        return KeepReason::changed_during_the_run;
    return std::nullopt;
}

ExtractionSettings settings_for(const RunOptions& options, StreamChecker* checker)
{
    ExtractionSettings settings;
    settings.checker = checker;
    settings.sync_to_disk = removes_input(options);
    settings.copy.stop_requested = interrupted;
    return settings;
}

// A .ts file that looks whole is compared with the stream in full, and copied only if it differs. What
// is found equal is flushed to the disk as a copy for -k would be. Whether it was found equal.
Expected<bool, Failure> compare_or_copy(const StreamSource& input, const RunOptions& options, ConversionReporter& reporter,
    OpenedOutput& output, const ExtractionSettings& settings)
{
    WrittenStream& written = output.written;
    reporter.comparing_stream(output.path);
    Expected<bool, int> equal = compare_in_full(input, output.file.native(), written.output.size, settings.copy.chunk_size,
        [&reporter] { reporter.chunk_done(); }, settings.copy.stop_requested);
    if (!equal)
        return SystemError { Action::read, output.path, equal.error() };
    reporter.stream_compared(*equal);
    if (!*equal) {
        reporter.writing_stream(output.path);
        TRY(widened(write_stream_into(output, input, reporter, settings)));
        return false;
    }
    written.bytes_copied = written.output.size;
    if (settings.sync_to_disk && (!flush_to_disk(output.file.native()) || !flush_folder_of(options.output_path)))
        return SystemError { Action::write, output.path, errno };
    if (!output.file.close())
        return SystemError { Action::write, output.path, errno };
    return true;
}

// What writing the stream came to: whether a compare found the .ts file whole (nothing was copied, and
// so nothing was checked), the bytes written and read, whether or not it got to the end, what the
// check found, and how it ended.
struct StreamWritten {
    bool equal = false;
    std::uint64_t bytes_written = 0;
    std::uint64_t bytes_read = 0;
    std::optional<StreamReport> check;
    RunOutcome ended;
};

// Copies the stream into the opened .ts file, or compares it first, or with -t -s only reads it,
// checking it on the way with -s.
StreamWritten write_stream(const LockedRecording& recording, const RunOptions& options, ConversionReporter& reporter,
    OpenedOutput& output, StreamWork work)
{
    const StreamSource& input = recording.input;
    std::optional<StreamChecker> checker;
    if (options.check_stream)
        checker.emplace(recording.header->pcr_pid());
    ExtractionSettings settings = settings_for(options, checker ? &*checker : nullptr);
    StreamWritten written;
    if (!options.skip_extraction && work == StreamWork::compare_first) {
        Expected<bool, Failure> equal = compare_or_copy(input, options, reporter, output, settings);
        written.equal = equal && *equal;
        if (!equal)
            written.ended = Unexpected { std::move(equal).error() };
    } else if (!options.skip_extraction) {
        written.ended = widened(write_stream_into(output, input, reporter, settings));
    } else if (checker) {
        StreamRead read = check_transport_stream(input, reporter, settings);
        written.bytes_read = read.bytes_read;
        written.ended = widened(std::move(read.ended));
    }
    if (written.equal)
        written.bytes_read = output.written.bytes_copied;
    else if (!options.skip_extraction)
        written.bytes_written = output.written.bytes_copied;
    // A report only: what the check finds changes neither the catalogue nor the outcome.
    if (written.ended && checker && !written.equal) {
        written.check = checker->report();
        reporter.stream_checked(*written.check);
    }
    return written;
}

// A recording's result, with what writing its stream came to.
ConversionResult result_of(const StreamWritten& written, ConversionOutcome outcome, std::optional<Failure> what_failed, bool catalogued)
{
    return ConversionResult {
        .outcome = outcome,
        .failure = std::move(what_failed),
        .catalogued = catalogued,
        .stream_faults = written.check && written.check->has_errors(),
        .bytes_written = written.bytes_written,
        .bytes_read = written.bytes_read,
        .check = written.check,
    };
}

// -k: deletes the recording, or says why it is kept. The recording stays open, and locked, until here,
// so that -k sees what became of the very file that was read, and no other run starts on it before it
// is gone; and the catalogue stays locked, so that no other run's -a empties its line meanwhile.
RunOutcome free_recording(const LockedRecording& recording, const RunOptions& options, const WrittenStream& stream,
    ConversionReporter& reporter)
{
    if (std::optional<KeepReason> reason = reason_to_keep(options, recording, stream)) {
        reporter.keeping(options.input_path, *reason);
        return {};
    }
    return remove_input(options.input_path, recording.input.identity, reporter);
}

ReportOutcome report_outcome(const ConversionResult& result)
{
    switch (result.outcome) {
    case ConversionOutcome::failed:
    case ConversionOutcome::put_off:
        return ReportOutcome::failed;
    case ConversionOutcome::skipped:
        return ReportOutcome::skipped;
    case ConversionOutcome::converted:
        break;
    }
    if (!result.line_written)
        return ReportOutcome::stream_only;
    return result.stream_written ? ReportOutcome::converted : ReportOutcome::line_only;
}

// A recording's object for the report, from what its turn found.
ReportEntry report_entry(const RunOptions& options, const LockedRecording& recording, const ConversionResult& result)
{
    ReportEntry entry;
    entry.recording_path = options.input_path;
    entry.name = recording.name.empty() ? options.input_path : recording.name;
    if (!options.skip_extraction)
        entry.stream_path = options.output_path;
    entry.outcome = report_outcome(result);
    if (result.failure)
        entry.reason = failure_reason(*result.failure);
    else if (result.skip)
        entry.reason = describe_skip(*result.skip, options.catalogue_path);
    const FileIdentity& input = recording.input.identity;
    if (input.regular_file)
        entry.stream_bytes = input.size - std::min(input.size, transport_stream_offset);
    else if (result.bytes_written != 0 || result.bytes_read != 0)
        entry.stream_bytes = std::max(result.bytes_written, result.bytes_read);
    entry.catalogue_path = options.catalogue_path;
    entry.header = recording.header ? &*recording.header : nullptr;
    entry.check = result.check ? &*result.check : nullptr;
    return entry;
}

// Adds the recording's line, unless a batch finds it there already under the catalogue's lock: whether
// it was there.
Expected<bool, Failure> write_line(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, CatalogueFile& catalogue)
{
    CatalogueEntry entry {
        .catalogue_path = options.catalogue_path,
        .filename = options.input_path,
        .start_afresh = options.start_afresh,
        .own_recordings = {},
        .encoding = options.utf8_texts ? TextEncoding::utf_8 : TextEncoding::as_stored,
        .make_durable = removes_input(options),
        .announce = !plan.line_is_there,
        .through = plan.kept_catalogue ? plan.kept_catalogue->native() : no_handle,
    };
    // -a empties without a copy only what is this run's own: its recording's lines, or a batch's.
    if (entry.start_afresh)
        entry.own_recordings = plan.batch_recordings ? *plan.batch_recordings
                                                     : std::vector { recording_key(recording.name, *recording.header) };
    TRY(widened(ensure_catalogue_header(entry, recording.files, catalogue, reporter)));
    if (plan.kept_catalogue && !plan.kept_catalogue->is_open() && !catalogue.identity.regular_file) {
        *plan.kept_catalogue = duplicate(catalogue.file.native());
        if (!plan.kept_catalogue->is_open())
            return SystemError { Action::open, options.catalogue_path, errno };
    }
    bool line_was_there = false;
    if (plan.watch && !entry.start_afresh) {
        TRY(plan.watch->catch_up_through(catalogue.file.native(), catalogue.identity));
        line_was_there = plan.watch->holds(recording_key(recording.name, *recording.header));
    }
    if (line_was_there) {
        TRY(widened(close_catalogue(catalogue, entry)));
        return true;
    }
    TRY(widened(append_catalogue_row(catalogue, entry, *recording.header, reporter)));
    // A batch reads what it appended itself without reading it again.
    if (plan.watch && !entry.start_afresh)
        plan.watch->appended(catalogue.written, catalogue.after_append);
    return false;
}

}

void blame_interruption(ConversionResult& result, const std::string& input_path)
{
    if (!result.failure || !interrupted())
        return;
    bool not_whole = !result.output_not_whole.empty();
    result.failure = Interrupted { not_whole ? result.output_not_whole : input_path, not_whole };
}

Expected<void, Refusal<RunRefusal>> name_slip(const RunOptions& options)
{
    if (ends_with_ignoring_case(options.output_path, ".csv"))
        return Refusal<RunRefusal> { Action::write, options.output_path, RunRefusal::output_named_like_a_catalogue };
    if (ends_with_ignoring_case(options.catalogue_path, ".ts"))
        return Refusal<RunRefusal> { Action::write, options.catalogue_path, RunRefusal::catalogue_named_like_a_stream };
    if (ends_with_ignoring_case(options.catalogue_path, ".rec"))
        return Refusal<RunRefusal> { Action::write, options.catalogue_path, RunRefusal::catalogue_named_like_a_recording };
    return {};
}

RunOutcome refusal_before_writing(const RunOptions& options, const LockedRecording& recording, OutputGuard guard, CatalogueChecks checks)
{
    const FilesOfTheRun& files = recording.files;
    const RunFile& output = files[RunFileRole::stream];
    if (output.named) {
        const std::string& output_path = options.output_path;
        if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::stream, output.identity))
            return Refusal<RunFileRole> { Action::write, output_path, *other };
        if (output.identity.regular_file) {
            if (std::optional<RunRefusal> reason = reason_not_to_write_stream_over(read_file_start(output_path, catalogue_start_length())))
                return Refusal<RunRefusal> { Action::write, output_path, *reason };
        }
        if (guard == OutputGuard::default_name) {
            TRY(refusal_of_holding(judge_output_path(recording.input, output_path), output_path, guard));
        }
    }
    bool whole = checks == CatalogueChecks::all;
    if (whole) {
        TRY(refusal_of_catalogue(options, files));
    } else {
        const RunFile& catalogue = files[RunFileRole::catalogue];
        TRY(widened(refusal_to_catalogue_into(catalogue.path, catalogue.identity, {}, files)));
    }
    return refusal_of_report(files, whole);
}

RunOutcome refusal_of_report(const FilesOfTheRun& files, bool whole)
{
    const RunFile& report = files[RunFileRole::report];
    if (!report.named)
        return {};
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::report, report.identity))
        return Refusal<RunFileRole> { Action::write, report.path, *other };
    if (!whole)
        return {};
    if (report.identity.regular_file && !holds_a_report(read_file_start(report.path, 1)))
        return Refusal<CatalogueRefusal> { Action::write, report.path, CatalogueRefusal::is_not_a_report };
    if (Expected<void, int> allowed = appending_allowed(report.path); !allowed)
        return SystemError { Action::open, report.path, allowed.error() };
    return {};
}

RunOutcome refusal_of_catalogue(const RunOptions& options, const FilesOfTheRun& files)
{
    const std::string& catalogue_path = options.catalogue_path;
    const FileIdentity& catalogue = files[RunFileRole::catalogue].identity;
    std::string catalogue_start = catalogue.regular_file ? read_file_start(catalogue_path, catalogue_start_length()) : std::string();
    TRY(widened(refusal_to_catalogue_into(catalogue_path, catalogue, catalogue_start, files)));
    TRY(name_slip(options));
    if (Expected<void, int> allowed = appending_allowed(catalogue_path); !allowed)
        return SystemError { Action::open, catalogue_path, allowed.error() };
    return {};
}

void name_by_path(const RunOptions& options, FilesOfTheRun& files, ProgressReporter& reporter)
{
    struct Written {
        RunFileRole role;
        const std::string* path;
        FileIdentity identity;
    };
    std::vector<Written> written;
    if (!options.skip_extraction)
        written.push_back({ RunFileRole::stream, &options.output_path, {} });
    written.push_back({ RunFileRole::catalogue, &options.catalogue_path, {} });
    if (options.report_path)
        written.push_back({ RunFileRole::report, &*options.report_path, {} });
    std::size_t missing = 0;
    for (Written& file : written) {
        file.identity = identify_existing(*file.path);
        missing += file.identity.exists ? 0 : 1;
    }
    // Where a file not yet there would be made matters only when another is not there either.
    for (Written& file : written)
        if (missing > 1 && !file.identity.exists)
            file.identity = identify_path(*file.path);
    for (const Written& file : written)
        files.name(file.role, *file.path, file.identity, reporter);
}

RunOutcome open_recording(const RunOptions& options, ConversionReporter& reporter, LockedRecording& recording)
{
    // Messages must not be mixed into the recording, the stream or the catalogue, whichever of them
    // standard output or standard error is; the recording is judged once it is open, before any
    // message is written out.
    name_by_path(options, recording.files, reporter);
    // Until its copy is whole, a recording's blocked calls are abandoned on an interruption.
    abandon_calls_on_interruption(true);

    reporter.reading_recording(options.input_path);
    recording.file = open_for_reading(options.input_path);
    if (!recording.file.is_open())
        return SystemError { Action::open, options.input_path, errno };
    StreamSource& input = recording.input;
    input = { recording.file.native(), options.input_path, identify(recording.file.native()), false, {} };
    recording.name = opened_file_name(recording.file.native());
    if (recording.name.empty())
        recording.name = options.input_path;
    recording.files.name(RunFileRole::recording, options.input_path, input.identity, reporter);
    input.sequential = !can_be_positioned(input.handle);
    // Two runs converting one recording would write its .ts file and its line twice. What a pipe gives
    // is read by this run alone, and a folder or a device is no recording.
    if (input.identity.regular_file) {
        LockOutcome lock = lock_against_other_runs(input.handle);
        if (lock == LockOutcome::held_elsewhere)
            return Refusal<RunRefusal> { Action::read, options.input_path, RunRefusal::another_run_is_converting };
        if (lock == LockOutcome::error)
            return SystemError { Action::lock, options.input_path, errno };
    }

    reporter.reading_header();
    Expected<HeaderCheck, int> reading = read_recording_header(input.handle);
    if (!reading)
        return SystemError { Action::read, options.input_path, reading.error() };
    if (!reading->header)
        return bad_recording(options.input_path, *reading);
    recording.header = *reading->header;
    // What a pipe has given of the stream with the header cannot be read again.
    if (input.sequential)
        input.already_read = std::as_bytes(recording.header->stream_start());
    return {};
}

bool names_the_file_read(const std::string& input_path, const FileIdentity& input)
{
    FileIdentity entry = identify_link(input_path);
    return entry.regular_file && is_same_file(entry, input);
}

Expected<OpenedOutput, Failure> open_stream_file(LockedRecording& recording, const RunOptions& options,
    const ConversionPlan& plan, ConversionReporter& reporter, bool wait_for_lock)
{
    // An interrupted run empties no .ts file.
    if (interrupted())
        return SystemError { Action::open, options.output_path, EINTR };
    TRY_VALUE(output, widened(open_output(recording.files, options.output_path, reporter, wait_for_lock)));
    TRY(refusal_of_opened_output(recording.input, output, plan.output_guard));
    return output;
}

ConversionResult finish_conversion(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, OpenedOutput& output, StreamWork work)
{
    StreamWritten written = write_stream(recording, options, reporter, output, work);
    if (!written.ended) {
        ConversionResult result = result_of(written, ConversionOutcome::failed, std::move(written.ended).error(), false);
        if (output.written.emptied && output.written.output.regular_file)
            result.output_not_whole = output.path;
        return result;
    }
    // The copy is whole: what makes it whole on the disk, its line and -k's decision, is finished
    // even after an interruption.
    abandon_calls_on_interruption(false);
    // Holds the catalogue's lock, with -k, until the recording is gone.
    CatalogueFile catalogue;
    Expected<bool, Failure> line = write_line(recording, options, plan, reporter, catalogue);
    if (!line)
        return result_of(written, ConversionOutcome::failed, std::move(line).error(), false);
    bool line_was_there = *line;
    // Another run catalogued it while this one copied; what is skipped is never deleted.
    bool catalogued_meanwhile = line_was_there && !plan.line_is_there && !written.equal;
    if (catalogued_meanwhile)
        reporter.skipping(options.input_path, SkipReason::already_catalogued, options.catalogue_path);
    // Or nothing was written, and the line was there: a recording converted before, compared in full.
    bool skipped = catalogued_meanwhile || (written.equal && line_was_there);
    ConversionResult result = result_of(written, skipped ? ConversionOutcome::skipped : ConversionOutcome::converted, std::nullopt, true);
    if (skipped)
        result.skip = SkipReason::already_catalogued;
    result.stream_written = !options.skip_extraction && !written.equal;
    result.line_written = !line_was_there;
    if (catalogued_meanwhile)
        return result;
    // The report has its object before anything is deleted: a report that cannot be written keeps
    // the recording.
    finish_turn(result, options, recording, plan.report, reporter);
    if (result.outcome != ConversionOutcome::failed && options.delete_input) {
        if (RunOutcome freed = free_recording(recording, options, output.written, reporter); !freed) {
            result.outcome = ConversionOutcome::failed;
            result.failure = std::move(freed).error();
        }
    }
    // Nothing was written through the input, so its close has nothing to report.
    static_cast<void>(recording.file.close());
    return result;
}

ConversionResult convert_opened(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter)
{
    if (RunOutcome allowed = refusal_before_writing(options, recording, plan.output_guard, plan.catalogue_checks); !allowed)
        return failure_result(std::move(allowed).error());
    // Holds the .ts file's lock until the run is over.
    OpenedOutput output;
    if (!options.skip_extraction) {
        reporter.writing_stream(options.output_path);
        Expected<OpenedOutput, Failure> opened = open_stream_file(recording, options, plan, reporter, false);
        if (!opened)
            return failure_result(std::move(opened).error());
        output = std::move(*opened);
    }
    return finish_conversion(recording, options, plan, reporter, output, StreamWork::copy);
}

ConversionResult check_only(LockedRecording& recording, const RunOptions& options, ConversionReporter& reporter)
{
    RunOptions checking = options;
    checking.skip_extraction = true;
    checking.check_stream = true;
    OpenedOutput none;
    StreamWritten written = write_stream(recording, checking, reporter, none, StreamWork::copy);
    static_cast<void>(recording.file.close());
    return ConversionResult {
        .outcome = written.ended ? ConversionOutcome::skipped : ConversionOutcome::failed,
        .failure = written.ended ? std::nullopt : std::optional<Failure>(std::move(written.ended).error()),
        .catalogued = true,
        .stream_faults = written.check && written.check->has_errors(),
        .bytes_written = 0,
        .bytes_read = written.bytes_read,
        .check = written.check,
        .skip = SkipReason::already_catalogued,
    };
}

ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter, ReportFile* report)
{
    LockedRecording recording;
    ConversionResult result;
    if (RunOutcome opened = open_recording(options, reporter, recording); !opened) {
        result = failure_result(std::move(opened).error());
    } else {
        ConversionPlan plan;
        plan.output_guard = options.output_named ? OutputGuard::none : OutputGuard::default_name;
        plan.report = report;
        result = convert_opened(recording, options, plan, reporter);
    }
    finish_turn(result, options, recording, report, reporter);
    return result;
}

void finish_turn(ConversionResult& result, const RunOptions& options, LockedRecording& recording, ReportFile* report,
    ConversionReporter& reporter)
{
    blame_interruption(result, options.input_path);
    if (!report || result.reported || result.outcome == ConversionOutcome::put_off)
        return;
    // A report that was refused, or could not be opened, gets no object.
    if (result.failure && failure_path(*result.failure) == report->path)
        return;
    result.reported = true;
    // A recording cut short gets its object all the same.
    abandon_calls_on_interruption(false);
    ReportEntry entry = report_entry(options, recording, result);
    if (RunOutcome appended = widened(append_report_line(*report, recording.files, report_line(entry), reporter)); !appended) {
        if (result.failure) {
            reporter.error(appended.error());
            return;
        }
        result.outcome = ConversionOutcome::failed;
        result.failure = std::move(appended).error();
    }
}
