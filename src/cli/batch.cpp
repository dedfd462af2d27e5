#include "cli/batch.h"

#include "archive/batch_plan.h"
#include "archive/catalogue_watch.h"
#include "archive/recording_list.h"
#include "archive/stream_holding.h"
#include "catalogue/catalogue_holdings.h"
#include "cli/console_reporter.h"
#include "cli/conversion.h"
#include "cli/run.h"
#include "platform/console.h"
#include "platform/file_identity.h"
#include "platform/interruption.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

// What a batch keeps from one turn to the next.
struct Batch {
    const RunOptions& options;
    ConsoleReporter& reporter;
    CatalogueWatch catalogue;
    BatchState state;
    // With -a: the keys of the batch's own recordings, whose lines -a empties without a copy.
    std::vector<RecordingKey> recordings;
    // A catalogue that is no regular file, kept open from the first line to the end.
    File kept_catalogue;
    // With -j, the report.
    std::optional<ReportFile> report;
};

// One recording's place in the batch: listed, or put at the end to be judged again.
struct Turn {
    const ListedRecording* listed;
    std::size_t number;  // its place in the list, from 1
    bool second_look = false;
};

// How the opening went, in the plan's terms.
Opening opening_of(const RunOutcome& opening)
{
    if (!opening)
        return Opening::opened;
    if (const auto* refused = std::get_if<Refusal<RunRefusal>>(&*opening); refused && refused->reason == RunRefusal::another_run_is_converting)
        return Opening::locked_elsewhere;
    const auto* error = std::get_if<SystemError>(&*opening);
    return error && error->action == Action::open && error->error_number == ENOENT ? Opening::missing : Opening::failed;
}

// Whether the catalogue holds the recording's line, read again now that the recording's lock, and
// maybe its .ts file's, is held. With -a, before the first line, it holds nothing that counts.
std::optional<SystemError> gather_line(const OpenedRecording& recording, Batch& batch, RecordingFacts& facts, Look look)
{
    facts.catalogued = false;
    if (batch.state.start_afresh)
        return std::nullopt;
    if (std::optional<SystemError> failure = batch.catalogue.catch_up(recording.input.identity, look))
        return failure;
    facts.catalogued = batch.catalogue.holds(recording_key(recording.name, *recording.header));
    return std::nullopt;
}

// What the plan needs to know of a recording that is here: its line, and what its .ts file holds,
// looked at by its path.
std::optional<SystemError> gather_facts(const ListedRecording& listed, const OpenedRecording& recording, Batch& batch, RecordingFacts& facts,
    Look look)
{
    if (std::optional<SystemError> failure = gather_line(recording, batch, facts, look))
        return failure;
    if (!batch.state.skip_extraction) {
        OutputJudgement judgement = judge_output_path(recording.input, listed.output_path);
        if (judgement.error_number != 0)
            return SystemError { Action::read, listed.output_path, judgement.error_number };
        facts.output = judgement.holding;
    }
    facts.output_claimed_by = listed.output_claimed_by;
    return std::nullopt;
}

// The same once the .ts file is locked, when no other run can write it: the catalogue read again, the
// .ts file judged through its handle, and the recording still at its path.
std::optional<SystemError> gather_facts_under_lock(const ListedRecording& listed, const OpenedRecording& recording, const OpenedOutput& output,
    Batch& batch, RecordingFacts& facts, Look look)
{
    if (!names_the_file_read(listed.path, recording.input.identity) && identify_link(listed.path).missing) {
        facts.opening = Opening::missing;
        facts.seen_before = true;
        return std::nullopt;
    }
    if (std::optional<SystemError> failure = gather_line(recording, batch, facts, look))
        return failure;
    OutputJudgement judgement = judge_output(recording.input, output.file.native(), output.written.output);
    if (judgement.error_number != 0)
        return SystemError { Action::read, listed.output_path, judgement.error_number };
    facts.output = judgement.holding;
    facts.output_claimed_by = listed.output_claimed_by;
    return std::nullopt;
}

Failure refusal_of(BatchRefusal reason, const ListedRecording& listed, const RunOptions& options, const OpenedRecording& recording)
{
    if (reason == BatchRefusal::output_claimed)
        return Refusal<BatchRefusal> { Action::write, listed.output_path, reason, listed.output_claimed_by };
    // A recording or a catalogue at the .ts file's place is refused in the words a single run uses.
    if (RunOutcome refused = refusal_before_writing(options, recording, OutputGuard::batch_name))
        return std::move(*refused);
    return Refusal<BatchRefusal> { Action::write, listed.output_path, reason };
}

ConversionResult failed(Failure failure)
{
    return { ConversionOutcome::failed, std::move(failure), false, false };
}

ConversionResult skipped_for(SkipReason reason)
{
    ConversionResult result { ConversionOutcome::skipped, std::nullopt, false, false };
    result.skip = reason;
    return result;
}

bool another_run_is_writing(const RunOutcome& failure)
{
    const auto* refused = failure ? std::get_if<Refusal<StreamRefusal>>(&*failure) : nullptr;
    return refused && refused->reason == StreamRefusal::another_run_is_writing;
}

// Gathers the facts on a quick look at the catalogue and decides on them; a skip because the line is
// there rests on an exact look, so that one is taken first if the quick one was not.
template <typename Gather>
std::optional<SystemError> decide_after(const Gather& gather, Batch& batch, RecordingFacts& facts, BatchDecision& decision)
{
    for (Look look : { Look::quick, Look::exact }) {
        if (std::optional<SystemError> failure = gather(look))
            return failure;
        decision = decide(facts, batch.state);
        bool skip_for_the_line = decision.action == BatchAction::skip && decision.skip == SkipReason::already_catalogued;
        if (!skip_for_the_line || batch.catalogue.exact())
            break;
    }
    return std::nullopt;
}

// Carries out a decision that writes nothing: a skip, with the check -b -t -s still gives it, a
// refusal, or a turn put off.
std::optional<ConversionResult> without_writing(const BatchDecision& decision, const ListedRecording& listed, const RunOptions& options,
    OpenedRecording& recording, ConsoleReporter& reporter)
{
    switch (decision.action) {
    case BatchAction::skip:
        reporter.skipping(listed.path, decision.skip, options.catalogue_path);
        if (decision.check_stream)
            return check_only(recording, options, reporter);
        return skipped_for(decision.skip);
    case BatchAction::refuse:
        return failed(refusal_of(decision.refusal, listed, options, recording));
    case BatchAction::judge_again_later:
        reporter.putting_last(listed.path, listed.output_path);
        return ConversionResult { ConversionOutcome::put_off, std::nullopt, false, false };
    case BatchAction::fail:
    case BatchAction::convert:
    case BatchAction::write_stream_only:
    case BatchAction::compare_in_full:
        break;
    }
    return std::nullopt;
}

// How a batch converts each of its recordings.
ConversionPlan plan_of(Batch& batch)
{
    ConversionPlan plan { false, OutputGuard::batch_name, &batch.catalogue, &batch.recordings, CatalogueChecks::against_this_recording,
        &batch.kept_catalogue };
    plan.report = batch.report ? &*batch.report : nullptr;
    return plan;
}

// The .ts file locked, the plan decides again, and what it decides is carried out.
ConversionResult write_under_lock(const Turn& turn, RunOptions options, OpenedRecording& recording, Batch& batch)
{
    const ListedRecording& listed = *turn.listed;
    ConversionPlan plan = plan_of(batch);
    if (RunOutcome refused = refusal_before_writing(options, recording, plan.output_guard, plan.catalogue_checks))
        return failed(std::move(*refused));
    OpenedOutput output;
    RunOutcome opening = open_stream_file(recording, options, plan, batch.reporter, output, turn.second_look);
    RecordingFacts facts;
    facts.output_locked_elsewhere = another_run_is_writing(opening);
    if (opening && !facts.output_locked_elsewhere)
        return failed(std::move(*opening));
    BatchDecision decision;
    auto gather = [&](Look look) {
        return facts.output_locked_elsewhere ? std::nullopt : gather_facts_under_lock(listed, recording, output, batch, facts, look);
    };
    if (std::optional<SystemError> failure = decide_after(gather, batch, facts, decision))
        return failed(std::move(*failure));
    if (std::optional<ConversionResult> result = without_writing(decision, listed, options, recording, batch.reporter))
        return *result;
    options.append = !decision.start_afresh;
    plan.line_is_there = facts.catalogued && !decision.start_afresh;
    if (decision.action == BatchAction::compare_in_full) {
        // Converted before: what it still gets with -k is its compare and its deletion.
        if (plan.line_is_there)
            batch.reporter.skipping(listed.path, SkipReason::already_catalogued, options.catalogue_path);
        return finish_conversion(recording, options, plan, batch.reporter, output, StreamWork::compare_first);
    }
    batch.reporter.writing_stream(listed.output_path);
    return finish_conversion(recording, options, plan, batch.reporter, output, StreamWork::copy);
}

// One recording's turn: opened and locked, the facts gathered, the plan's decision carried out.
ConversionResult turn_of(const Turn& turn, RunOptions options, OpenedRecording& recording, Batch& batch)
{
    const ListedRecording& listed = *turn.listed;
    if (listed.unreadable_folder)
        return failed(*listed.unreadable_folder);
    RunOutcome opening = open_recording(options, batch.reporter, recording);
    RecordingFacts facts;
    facts.opening = opening_of(opening);
    facts.listed_from_folder = listed.from_folder;
    facts.seen_before = turn.second_look;
    BatchDecision decision;
    auto gather = [&](Look look) {
        return facts.opening == Opening::opened ? gather_facts(listed, recording, batch, facts, look) : std::nullopt;
    };
    if (std::optional<SystemError> failure = decide_after(gather, batch, facts, decision))
        return failed(std::move(*failure));
    if (decision.action == BatchAction::fail)
        return failed(std::move(*opening));
    if (std::optional<ConversionResult> result = without_writing(decision, listed, options, recording, batch.reporter))
        return *result;
    if (!options.skip_extraction)
        return write_under_lock(turn, options, recording, batch);
    options.append = !decision.start_afresh;
    return convert_opened(recording, options, plan_of(batch), batch.reporter);
}

// One recording's turn, and its end: its object in the report, whatever came of it.
ConversionResult take_turn(const Turn& turn, RunOptions options, Batch& batch)
{
    options.input_path = turn.listed->path;
    options.output_path = turn.listed->output_path;
    OpenedRecording recording;
    ConversionResult result = turn_of(turn, options, recording, batch);
    finish_turn(result, options, recording, batch.report ? &*batch.report : nullptr, batch.reporter);
    return result;
}

// The streams' sizes, for the batch's progress: a FIFO's or a device's is unknown, and a file too
// short to be a recording has no stream.
std::vector<std::optional<std::uint64_t>> stream_sizes(const std::vector<ListedRecording>& recordings)
{
    std::vector<std::optional<std::uint64_t>> sizes;
    for (const ListedRecording& listed : recordings) {
        FileIdentity file = identify_existing(listed.path);
        if (file.regular_file)
            sizes.push_back(file.size - std::min(file.size, transport_stream_offset));
        else
            sizes.push_back(std::nullopt);
    }
    return sizes;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// -a empties the lines of the batch's own recordings without a copy, whichever of them comes first.
std::vector<RecordingKey> keys_of(const std::vector<ListedRecording>& recordings)
{
    std::vector<RecordingKey> keys;
    for (const ListedRecording& listed : recordings) {
        File file = open_regular_for_reading(listed.path);
        HeaderReading reading = file.is_open() ? read_recording_header(file.native()) : HeaderReading {};
        std::string name = file.is_open() ? opened_file_name(file.native()) : std::string();
        if (reading.header)
            keys.push_back(recording_key(name.empty() ? listed.path : name, *reading.header));
    }
    return keys;
}

}

int run_batch(const RunOptions& options, const BatchOptions& batch_options, Console& console, MessageRouting& routing)
{
    ConsoleReporter reporter(console, routing);
    const std::string* output_folder = batch_options.output_folder ? &*batch_options.output_folder : nullptr;
    if (output_folder) {
        FileIdentity folder = identify_existing(*output_folder);
        if (!folder.exists) {
            reporter.failed(SystemError { Action::write, *output_folder, errno });
            return exit_status_failure;
        }
        if (!folder.folder) {
            reporter.failed(Refusal<RunRefusal> { Action::write, *output_folder, RunRefusal::output_is_not_a_folder });
            return exit_status_failure;
        }
    }
    // The batch names its .ts files itself; its catalogue is the one name that can be a slip. The
    // catalogue is judged once, before any recording: a catalogue that cannot be written ends the
    // batch before anything is copied.
    FilesOfTheRun batch_files;
    RunOptions without_stream = options;
    without_stream.skip_extraction = true;
    name_by_path(without_stream, batch_files, reporter);
    RunOutcome refused = refusal_of_catalogue(options, batch_files);
    if (!refused)
        refused = refusal_of_report(batch_files, true);
    if (refused) {
        reporter.failed(*refused);
        return exit_status_failure;
    }

    RecordingList list = list_recordings(batch_options.inputs, output_folder, !options.skip_extraction);
    const std::vector<ListedRecording>& recordings = list.recordings;
    for (const std::string& folder : list.folders_passed_over)
        reporter.not_searched(folder);
    Batch batch { options, reporter, CatalogueWatch(options.catalogue_path), {}, {}, {}, {} };
    if (options.report_path)
        batch.report = ReportFile { *options.report_path, {} };
    // -a empties the catalogue once: for the first recording whose line is written.
    batch.state = { options.skip_extraction, !options.append, !options.keep_input, options.check_stream };
    if (!options.append)
        batch.recordings = keys_of(recordings);
    std::vector<Turn> turns;
    for (std::size_t index = 0; index < recordings.size(); ++index)
        turns.push_back({ &recordings[index], index + 1 });

    BatchSummary summary;
    summary.recordings = recordings.size();
    BatchProgress progress(stream_sizes(recordings));
    auto started = std::chrono::steady_clock::now();
    // An interruption ends the batch after the recording it came in; the rest are never reached.
    for (std::size_t index = 0; index < turns.size() && !interrupted(); ++index) {
        Turn turn = turns[index];
        const ListedRecording& listed = *turn.listed;
        reporter.batch_recording(progress.place(turn.number, turn.second_look, seconds_since(started)));
        ConversionResult result = take_turn(turn, options, batch);
        batch.state = after_turn(batch.state, result.catalogued);
        if (result.outcome == ConversionOutcome::put_off)
            turns.push_back({ &listed, turn.number, true });
        else
            progress.turn_done(turn.number, result.bytes_written + result.bytes_read);
        if (result.outcome == ConversionOutcome::converted)
            ++summary.converted;
        else if (result.outcome == ConversionOutcome::skipped)
            ++summary.skipped;
        else if (result.outcome == ConversionOutcome::failed)
            summary.failed.emplace_back(listed.path, *result.failure);
        if (result.stream_faults)
            summary.stream_faults.emplace_back(listed.path, *result.check);
        summary.bytes_written += result.bytes_written;
        summary.bytes_read += result.bytes_read;
        if (result.failure)
            reporter.failed(*result.failure);
        // Written out after each recording, so that a batch stopped part way has said what it did.
        static_cast<void>(console.flush());
    }
    summary.seconds = seconds_since(started);
    summary.never_reached = summary.recordings - summary.converted - summary.skipped - summary.failed.size();
    abandon_calls_on_interruption(false);

    // A reader that reads a pipe catalogue to its end ends here.
    static_cast<void>(batch.kept_catalogue.close());
    reporter.batch_done(summary);
    if (!summary.failed.empty() || summary.never_reached != 0)
        return exit_status_failure;
    reporter.all_done();
    return exit_status_success;
}
