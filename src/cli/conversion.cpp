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

ConversionResult failed(Failure failure)
{
    return { ConversionOutcome::failed, std::move(failure), false, false };
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
RunOutcome refusal_of_holding(const OutputJudgement& judgement, const std::string& output_path, OutputGuard guard)
{
    if (judgement.error_number != 0)
        return SystemError { Action::read, output_path, judgement.error_number };
    if (judgement.holding != OutputHolding::something_else)
        return std::nullopt;
    if (guard == OutputGuard::default_name)
        return Refusal<RunRefusal> { Action::write, output_path, RunRefusal::default_output_holds_another };
    return Refusal<BatchRefusal> { Action::write, output_path, BatchRefusal::output_holds_something };
}

// Why the .ts file just opened, judged through its handle under its lock, must not be written: what
// `refusal_before_writing` found by its path, and for a name the user did not choose anything but
// nothing or this recording's own stream.
RunOutcome refusal_of_opened_output(const OpenRecording& input, const OpenedOutput& output, OutputGuard guard)
{
    const FileIdentity& identity = output.written.output;
    if (!identity.regular_file)
        return std::nullopt;
    if (std::optional<RunRefusal> reason = reason_not_to_write_stream_over(start_of(output.file.native())))
        return Refusal<RunRefusal> { Action::write, output.path, *reason };
    if (guard == OutputGuard::none)
        return std::nullopt;
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
    return std::nullopt;
}

// A recording that a writer is still appending to, or that was rewritten in place, holds more than
// the .ts file does: the size must be the one copied and the modification time the one seen at open.
bool unchanged_since_copied(const OpenRecording& input, const WrittenStream& stream)
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
std::optional<KeepReason> reason_to_keep(const RunOptions& options, const OpenedRecording& recording, const WrittenStream& stream)
{
    const OpenRecording& input = recording.input;
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
// is found equal is flushed to the disk as a copy for -k would be.
RunOutcome compare_or_copy(const OpenRecording& input, const RunOptions& options, ConversionReporter& reporter, OpenedOutput& output,
    const ExtractionSettings& settings, bool& equal)
{
    WrittenStream& written = output.written;
    reporter.comparing_stream(output.path);
    if (int error_number = compare_in_full(input, output.file.native(), written.output.size, settings.copy.chunk_size,
            [&reporter] { reporter.chunk_done(); }, settings.copy.stop_requested, equal);
        error_number != 0)
        return SystemError { Action::read, output.path, error_number };
    reporter.stream_compared(equal);
    if (!equal) {
        reporter.writing_stream(output.path);
        return widened(write_stream_into(output, input, reporter, settings));
    }
    written.bytes_copied = written.output.size;
    if (settings.sync_to_disk && (!flush_to_disk(output.file.native()) || !flush_folder_of(options.output_path)))
        return SystemError { Action::write, output.path, errno };
    if (!output.file.close())
        return SystemError { Action::write, output.path, errno };
    return std::nullopt;
}

// What writing the stream came to: whether a compare found the .ts file whole (nothing was copied, and
// so nothing was checked), the bytes written and read, and what the check found.
struct StreamWritten {
    bool equal = false;
    std::uint64_t bytes_written = 0;
    std::uint64_t bytes_read = 0;
    std::optional<StreamReport> check;
};

// Copies the stream into the opened .ts file, or compares it first, or with -t -s only reads it,
// checking it on the way with -s.
RunOutcome write_stream(const OpenedRecording& recording, const RunOptions& options, ConversionReporter& reporter, OpenedOutput& output,
    StreamWork work, StreamWritten& written)
{
    const OpenRecording& input = recording.input;
    std::optional<StreamChecker> checker;
    if (options.check_stream)
        checker.emplace(recording.header->pcr_pid());
    ExtractionSettings settings = settings_for(options, checker ? &*checker : nullptr);
    RunOutcome failure;
    if (!options.skip_extraction && work == StreamWork::compare_first)
        failure = compare_or_copy(input, options, reporter, output, settings, written.equal);
    else if (!options.skip_extraction)
        failure = widened(write_stream_into(output, input, reporter, settings));
    else if (checker)
        failure = widened(check_transport_stream(input, reporter, settings, written.bytes_read));
    if (written.equal)
        written.bytes_read = output.written.bytes_copied;
    else if (!options.skip_extraction)
        written.bytes_written = output.written.bytes_copied;
    if (failure)
        return failure;
    // A report only: what the check finds changes neither the catalogue nor the outcome.
    if (checker && !written.equal) {
        written.check = checker->report();
        reporter.stream_checked(*written.check);
    }
    return std::nullopt;
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
ReportEntry report_entry(const RunOptions& options, const OpenedRecording& recording, const ConversionResult& result)
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

// Adds the recording's line, unless a batch finds it there already under the catalogue's lock.
RunOutcome write_line(OpenedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, CatalogueFile& catalogue, bool& line_was_there)
{
    CatalogueEntry entry {
        .catalogue_path = options.catalogue_path,
        .filename = options.input_path,
        .start_afresh = !options.append,
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
    if (RunOutcome failure = widened(ensure_catalogue_header(entry, recording.files, catalogue, reporter)))
        return failure;
    if (plan.kept_catalogue && !plan.kept_catalogue->is_open() && !catalogue.identity.regular_file) {
        *plan.kept_catalogue = duplicate(catalogue.file.native());
        if (!plan.kept_catalogue->is_open())
            return SystemError { Action::open, options.catalogue_path, errno };
    }
    line_was_there = false;
    if (plan.catalogue && !entry.start_afresh) {
        if (std::optional<SystemError> failure = plan.catalogue->catch_up_through(catalogue.file.native(), catalogue.identity))
            return std::move(*failure);
        line_was_there = plan.catalogue->holds(recording_key(recording.name, *recording.header));
    }
    if (line_was_there)
        return widened(close_catalogue(catalogue, entry));
    RunOutcome failure = widened(append_catalogue_row(catalogue, entry, *recording.header, reporter));
    // A batch reads what it appended itself without reading it again.
    if (!failure && plan.catalogue && !entry.start_afresh)
        plan.catalogue->appended(catalogue.written, catalogue.after_append);
    return failure;
}

}

void blame_interruption(ConversionResult& result, const std::string& input_path)
{
    if (!result.failure || !interrupted())
        return;
    bool not_whole = !result.output_not_whole.empty();
    result.failure = Interrupted { not_whole ? result.output_not_whole : input_path, not_whole };
}

std::optional<Refusal<RunRefusal>> name_slip(const RunOptions& options)
{
    if (ends_with_ignoring_case(options.output_path, ".csv"))
        return Refusal<RunRefusal> { Action::write, options.output_path, RunRefusal::output_named_like_a_catalogue };
    if (ends_with_ignoring_case(options.catalogue_path, ".ts"))
        return Refusal<RunRefusal> { Action::write, options.catalogue_path, RunRefusal::catalogue_named_like_a_stream };
    if (ends_with_ignoring_case(options.catalogue_path, ".rec"))
        return Refusal<RunRefusal> { Action::write, options.catalogue_path, RunRefusal::catalogue_named_like_a_recording };
    return std::nullopt;
}

RunOutcome refusal_before_writing(const RunOptions& options, const OpenedRecording& recording, OutputGuard guard, CatalogueChecks checks)
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
            if (RunOutcome refused = refusal_of_holding(judge_output_path(recording.input, output_path), output_path, guard))
                return refused;
        }
    }
    bool whole = checks == CatalogueChecks::all;
    if (whole) {
        if (RunOutcome refused = refusal_of_catalogue(options, files))
            return refused;
    } else {
        const RunFile& catalogue = files[RunFileRole::catalogue];
        if (RunOutcome refused = widened(refusal_to_catalogue_into(catalogue.path, catalogue.identity, {}, files)))
            return refused;
    }
    return refusal_of_report(files, whole);
}

RunOutcome refusal_of_report(const FilesOfTheRun& files, bool whole)
{
    const RunFile& report = files[RunFileRole::report];
    if (!report.named)
        return std::nullopt;
    if (std::optional<RunFileRole> other = files.earlier_file_it_is(RunFileRole::report, report.identity))
        return Refusal<RunFileRole> { Action::write, report.path, *other };
    if (!whole)
        return std::nullopt;
    if (report.identity.regular_file && !holds_a_report(read_file_start(report.path, 1)))
        return Refusal<CatalogueRefusal> { Action::write, report.path, CatalogueRefusal::is_not_a_report };
    if (int error_number = appending_error(report.path); error_number != 0)
        return SystemError { Action::open, report.path, error_number };
    return std::nullopt;
}

RunOutcome refusal_of_catalogue(const RunOptions& options, const FilesOfTheRun& files)
{
    const std::string& catalogue_path = options.catalogue_path;
    const FileIdentity& catalogue = files[RunFileRole::catalogue].identity;
    std::string catalogue_start = catalogue.regular_file ? read_file_start(catalogue_path, catalogue_start_length()) : std::string();
    if (RunOutcome refused = widened(refusal_to_catalogue_into(catalogue_path, catalogue, catalogue_start, files)))
        return refused;
    if (std::optional<Refusal<RunRefusal>> slip = name_slip(options))
        return *slip;
    if (int error_number = appending_error(catalogue_path); error_number != 0)
        return SystemError { Action::open, catalogue_path, error_number };
    return std::nullopt;
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

RunOutcome open_recording(const RunOptions& options, ConversionReporter& reporter, OpenedRecording& recording)
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
    OpenRecording& input = recording.input;
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
        if (lock == LockOutcome::failed)
            return SystemError { Action::lock, options.input_path, errno };
    }

    reporter.reading_header();
    HeaderReading reading = read_recording_header(input.handle);
    if (reading.error_number != 0)
        return SystemError { Action::read, options.input_path, reading.error_number };
    if (!reading.header)
        return bad_recording(options.input_path, reading);
    recording.header = *reading.header;
    // What a pipe has given of the stream with the header cannot be read again.
    if (input.sequential)
        input.already_read = std::as_bytes(recording.header->stream_start());
    return std::nullopt;
}

bool names_the_file_read(const std::string& input_path, const FileIdentity& input)
{
    FileIdentity entry = identify_link(input_path);
    return entry.regular_file && is_same_file(entry, input);
}

RunOutcome open_stream_file(OpenedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, OpenedOutput& output, bool wait_for_lock)
{
    const OpenRecording& input = recording.input;
    // An interrupted run empties no .ts file.
    if (interrupted())
        return SystemError { Action::open, options.output_path, EINTR };
    if (RunOutcome failure = widened(open_output(recording.files, options.output_path, reporter, output, wait_for_lock)))
        return failure;
    return refusal_of_opened_output(input, output, plan.output_guard);
}

ConversionResult finish_conversion(OpenedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, OpenedOutput& output, StreamWork work)
{
    const OpenRecording& input = recording.input;
    StreamWritten written;
    RunOutcome failure = write_stream(recording, options, reporter, output, work, written);
    auto result_of = [&written](ConversionOutcome outcome, RunOutcome what_failed, bool catalogued) {
        return ConversionResult { outcome, std::move(what_failed), catalogued, written.check && written.check->has_errors(), written.bytes_written,
            written.bytes_read, written.check };
    };
    if (failure) {
        ConversionResult result = result_of(ConversionOutcome::failed, std::move(failure), false);
        if (output.written.emptied && output.written.output.regular_file)
            result.output_not_whole = output.path;
        return result;
    }
    // The copy is whole: what makes it whole on the disk, its line and -k's decision, is finished
    // even after an interruption.
    abandon_calls_on_interruption(false);
    // Holds the catalogue's lock, with -k, until the recording is gone.
    CatalogueFile catalogue;
    bool line_was_there = false;
    if (RunOutcome failure = write_line(recording, options, plan, reporter, catalogue, line_was_there))
        return result_of(ConversionOutcome::failed, std::move(failure), false);
    if (line_was_there && !plan.line_is_there && !written.equal) {
        // Another run catalogued it while this one copied; what is skipped is never deleted.
        reporter.skipping(options.input_path, SkipReason::already_catalogued, options.catalogue_path);
        ConversionResult skipped = result_of(ConversionOutcome::skipped, std::nullopt, true);
        skipped.skip = SkipReason::already_catalogued;
        skipped.stream_written = true;
        return skipped;
    }
    // Nothing was written, and the line was there: a recording converted before, compared in full.
    bool converted_before = written.equal && line_was_there;
    ConversionResult result = result_of(converted_before ? ConversionOutcome::skipped : ConversionOutcome::converted, std::nullopt, true);
    if (converted_before)
        result.skip = SkipReason::already_catalogued;
    result.stream_written = !options.skip_extraction && !written.equal;
    result.line_written = !line_was_there;
    // The report has its object before anything is deleted: a report that cannot be written keeps
    // the recording.
    finish_turn(result, options, recording, plan.report, reporter);
    if (result.outcome == ConversionOutcome::failed) {
        static_cast<void>(recording.file.close());
        return result;
    }

    // The recording stays open, and locked, until here, so that -k sees what became of the very file
    // that was read, and no other run starts on it before it is gone; and the catalogue stays locked,
    // so that no other run's -a empties its line meanwhile.
    if (!options.keep_input) {
        if (std::optional<KeepReason> reason = reason_to_keep(options, recording, output.written))
            reporter.keeping(options.input_path, *reason);
        else if (RunOutcome failure = remove_input(options.input_path, input.identity, reporter)) {
            result.outcome = ConversionOutcome::failed;
            result.failure = std::move(failure);
        }
    }
    // Nothing was written through the input, so its close has nothing to report.
    static_cast<void>(recording.file.close());
    return result;
}

ConversionResult convert_opened(OpenedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter)
{
    if (RunOutcome refused = refusal_before_writing(options, recording, plan.output_guard, plan.catalogue_checks))
        return failed(std::move(*refused));
    // Holds the .ts file's lock until the run is over.
    OpenedOutput output;
    if (!options.skip_extraction) {
        reporter.writing_stream(options.output_path);
        if (RunOutcome failure = open_stream_file(recording, options, plan, reporter, output, false))
            return failed(std::move(*failure));
    }
    return finish_conversion(recording, options, plan, reporter, output, StreamWork::copy);
}

ConversionResult check_only(OpenedRecording& recording, const RunOptions& options, ConversionReporter& reporter)
{
    RunOptions checking = options;
    checking.skip_extraction = true;
    checking.check_stream = true;
    OpenedOutput none;
    StreamWritten written;
    RunOutcome failure = write_stream(recording, checking, reporter, none, StreamWork::copy, written);
    static_cast<void>(recording.file.close());
    ConversionResult result { failure ? ConversionOutcome::failed : ConversionOutcome::skipped, std::move(failure), true,
        written.check && written.check->has_errors(), 0, written.bytes_read, written.check };
    result.skip = SkipReason::already_catalogued;
    return result;
}

ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter, ReportFile* report)
{
    OpenedRecording recording;
    ConversionResult result;
    if (RunOutcome failure = open_recording(options, reporter, recording)) {
        result = failed(std::move(*failure));
    } else {
        ConversionPlan plan;
        plan.output_guard = options.output_named ? OutputGuard::none : OutputGuard::default_name;
        plan.report = report;
        result = convert_opened(recording, options, plan, reporter);
    }
    finish_turn(result, options, recording, report, reporter);
    return result;
}

void finish_turn(ConversionResult& result, const RunOptions& options, OpenedRecording& recording, ReportFile* report,
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
    if (RunOutcome failure = widened(append_report_line(*report, recording.files, report_line(entry), reporter))) {
        if (result.failure) {
            reporter.failed(*failure);
            return;
        }
        result.outcome = ConversionOutcome::failed;
        result.failure = std::move(failure);
    }
}
