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
    CatalogueWatch watch;
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
    if (opening)
        return Opening::opened;
    const Failure& failure = opening.error();
    if (const auto* refused = std::get_if<Refusal<RunRefusal>>(&failure); refused && refused->reason == RunRefusal::another_run_is_converting)
        return Opening::locked_elsewhere;
    const auto* error = std::get_if<SystemError>(&failure);
    return error && error->action == Action::open && error->error_number == ENOENT ? Opening::missing : Opening::other_failure;
}

// Whether the catalogue holds the recording's line, read again now that the recording's lock, and
// maybe its .ts file's, is held. With -a, before the first line, it holds nothing that counts.
Expected<bool, SystemError> gather_line(const LockedRecording& recording, Batch& batch, Look look)
{
    if (batch.state.start_afresh)
        return false;
    TRY(batch.watch.catch_up(recording.input.identity, look));
    return batch.watch.holds(recording_key(recording.name, *recording.header));
}

// What its .ts file holds, or the failure to read it, as the batch's.
Expected<OutputHolding, SystemError> holding_of(const Expected<OutputHolding, int>& holding, const ListedRecording& listed)
{
    if (!holding)
        return SystemError { Action::read, listed.output_path, holding.error() };
    return *holding;
}

// What the plan needs to know of a recording that is here, added to the facts it has: its line, and
// what its .ts file holds, looked at by its path.
Expected<RecordingFacts, SystemError> gather_facts(const ListedRecording& listed, const LockedRecording& recording, Batch& batch,
    RecordingFacts facts, Look look)
{
    TRY_VALUE(catalogued, gather_line(recording, batch, look));
    facts.catalogued = catalogued;
    if (!batch.state.skip_extraction) {
        TRY_VALUE(holding, holding_of(judge_output_path(recording.input, listed.output_path), listed));
        facts.output = holding;
    }
    facts.output_claimed_by = listed.output_claimed_by;
    return facts;
}

// The same once the .ts file is locked, when no other run can write it: the catalogue read again, the
// .ts file judged through its handle, and the recording still at its path.
Expected<RecordingFacts, SystemError> gather_facts_under_lock(const ListedRecording& listed, const LockedRecording& recording,
    const OpenedOutput& output, Batch& batch, RecordingFacts facts, Look look)
{
    if (!names_the_file_read(listed.path, recording.input.identity) && identify_link(listed.path).missing) {
        facts.opening = Opening::missing;
        facts.seen_before = true;
        return facts;
    }
    TRY_VALUE(catalogued, gather_line(recording, batch, look));
    facts.catalogued = catalogued;
    TRY_VALUE(holding, holding_of(judge_output(recording.input, output.file.native(), output.written.output), listed));
    facts.output = holding;
    facts.output_claimed_by = listed.output_claimed_by;
    return facts;
}

Failure refusal_of(BatchRefusal reason, const ListedRecording& listed, const RunOptions& options, const LockedRecording& recording)
{
    if (reason == BatchRefusal::output_claimed)
        return Refusal<BatchRefusal> { Action::write, listed.output_path, reason, listed.output_claimed_by };
    // A recording or a catalogue at the .ts file's place is refused in the words a single run uses.
    if (RunOutcome allowed = refusal_before_writing(options, recording, OutputGuard::batch_name); !allowed)
        return std::move(allowed).error();
    return Refusal<BatchRefusal> { Action::write, listed.output_path, reason };
}

ConversionResult failure_result(Failure failure)
{
    return ConversionResult { .outcome = ConversionOutcome::failed, .failure = std::move(failure) };
}

ConversionResult skipped_for(SkipReason reason)
{
    return ConversionResult { .outcome = ConversionOutcome::skipped, .skip = reason };
}

bool another_run_is_writing(const Failure& failure)
{
    const auto* refused = std::get_if<Refusal<StreamRefusal>>(&failure);
    return refused && refused->reason == StreamRefusal::another_run_is_writing;
}

// Gathers the facts on a quick look at the catalogue and decides on them; a skip because the line is
// there rests on an exact look, so that one is taken first if the quick one was not. The facts
// gathered last, and the decision on them.
template <typename Gather>
Expected<std::pair<RecordingFacts, BatchDecision>, SystemError> decide_after(const Gather& gather, Batch& batch)
{
    std::pair<RecordingFacts, BatchDecision> decided;
    for (Look look : { Look::quick, Look::exact }) {
        TRY_VALUE(facts, gather(look));
        decided = { facts, decide(facts, batch.state) };
        const BatchDecision& decision = decided.second;
        bool skip_for_the_line = decision.action == BatchAction::skip && decision.skip == SkipReason::already_catalogued;
        if (!skip_for_the_line || batch.watch.exact())
            break;
    }
    return decided;
}

// Carries out a decision that writes nothing: a skip, with the check -b -t -s still gives it, a
// refusal, or a turn put off.
std::optional<ConversionResult> without_writing(const BatchDecision& decision, const ListedRecording& listed, const RunOptions& options,
    LockedRecording& recording, ConsoleReporter& reporter)
{
    switch (decision.action) {
    case BatchAction::skip:
        reporter.skipping(listed.path, decision.skip, options.catalogue_path);
        if (decision.check_stream)
            return check_only(recording, options, reporter);
        return skipped_for(decision.skip);
    case BatchAction::refuse:
        return failure_result(refusal_of(decision.refusal, listed, options, recording));
    case BatchAction::judge_again_later:
        reporter.putting_last(listed.path, listed.output_path);
        return ConversionResult { .outcome = ConversionOutcome::put_off };
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
    return ConversionPlan {
        .line_is_there = false,
        .output_guard = OutputGuard::batch_name,
        .watch = &batch.watch,
        .batch_recordings = &batch.recordings,
        .catalogue_checks = CatalogueChecks::against_this_recording,
        .kept_catalogue = &batch.kept_catalogue,
        .report = batch.report ? &*batch.report : nullptr,
    };
}

// The .ts file locked, the plan decides again, and what it decides is carried out.
ConversionResult write_under_lock(const Turn& turn, RunOptions options, LockedRecording& recording, Batch& batch)
{
    const ListedRecording& listed = *turn.listed;
    ConversionPlan plan = plan_of(batch);
    if (RunOutcome allowed = refusal_before_writing(options, recording, plan.output_guard, plan.catalogue_checks); !allowed)
        return failure_result(std::move(allowed).error());
    Expected<OpenedOutput, Failure> opening = open_stream_file(recording, options, plan, batch.reporter, turn.second_look);
    RecordingFacts facts;
    facts.output_locked_elsewhere = !opening && another_run_is_writing(opening.error());
    if (!opening && !facts.output_locked_elsewhere)
        return failure_result(std::move(opening).error());
    OpenedOutput output = opening ? std::move(*opening) : OpenedOutput {};
    auto gather = [&](Look look) -> Expected<RecordingFacts, SystemError> {
        if (facts.output_locked_elsewhere)
            return facts;
        return gather_facts_under_lock(listed, recording, output, batch, facts, look);
    };
    Expected<std::pair<RecordingFacts, BatchDecision>, SystemError> decided = decide_after(gather, batch);
    if (!decided)
        return failure_result(std::move(decided).error());
    facts = decided->first;
    const BatchDecision& decision = decided->second;
    if (std::optional<ConversionResult> result = without_writing(decision, listed, options, recording, batch.reporter))
        return *result;
    options.start_afresh = decision.start_afresh;
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
ConversionResult turn_of(const Turn& turn, RunOptions options, LockedRecording& recording, Batch& batch)
{
    const ListedRecording& listed = *turn.listed;
    if (listed.unreadable_folder)
        return failure_result(*listed.unreadable_folder);
    RunOutcome opening = open_recording(options, batch.reporter, recording);
    RecordingFacts facts;
    facts.opening = opening_of(opening);
    facts.listed_from_folder = listed.from_folder;
    facts.seen_before = turn.second_look;
    auto gather = [&](Look look) -> Expected<RecordingFacts, SystemError> {
        if (facts.opening != Opening::opened)
            return facts;
        return gather_facts(listed, recording, batch, facts, look);
    };
    Expected<std::pair<RecordingFacts, BatchDecision>, SystemError> decided = decide_after(gather, batch);
    if (!decided)
        return failure_result(std::move(decided).error());
    const BatchDecision& decision = decided->second;
    if (decision.action == BatchAction::fail)
        return failure_result(std::move(opening).error());
    if (std::optional<ConversionResult> result = without_writing(decision, listed, options, recording, batch.reporter))
        return *result;
    if (!options.skip_extraction)
        return write_under_lock(turn, options, recording, batch);
    options.start_afresh = decision.start_afresh;
    return convert_opened(recording, options, plan_of(batch), batch.reporter);
}

// One recording's turn, and its end: its object in the report, whatever came of it.
ConversionResult take_turn(const Turn& turn, RunOptions options, Batch& batch)
{
    options.input_path = turn.listed->path;
    options.output_path = turn.listed->output_path;
    LockedRecording recording;
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
        if (!file.is_open())
            continue;
        Expected<HeaderCheck, int> reading = read_recording_header(file.native());
        std::string name = opened_file_name(file.native());
        if (reading && reading->header)
            keys.push_back(recording_key(name.empty() ? listed.path : name, *reading->header));
    }
    return keys;
}

// What must hold before a batch reads any recording: its -o folder is a folder, and its catalogue and
// report can be written. The batch names its .ts files itself; its catalogue is the one name that can
// be a slip. A catalogue that cannot be written ends the batch before anything is copied.
RunOutcome refusal_of_batch(const RunOptions& options, const std::string* output_folder, ConsoleReporter& reporter)
{
    if (output_folder) {
        FileIdentity folder = identify_existing(*output_folder);
        if (!folder.exists)
            return SystemError { Action::write, *output_folder, errno };
        if (!folder.folder)
            return Refusal<RunRefusal> { Action::write, *output_folder, RunRefusal::output_is_not_a_folder };
    }
    FilesOfTheRun batch_files;
    RunOptions without_stream = options;
    without_stream.skip_extraction = true;
    name_by_path(without_stream, batch_files, reporter);
    TRY(refusal_of_catalogue(options, batch_files));
    return refusal_of_report(batch_files, true);
}

// A finished turn, counted in the summary.
void count_turn(BatchSummary& summary, const ListedRecording& listed, const ConversionResult& result)
{
    if (result.outcome == ConversionOutcome::converted)
        ++summary.converted;
    else if (result.outcome == ConversionOutcome::skipped)
        ++summary.skipped;
    else if (result.outcome == ConversionOutcome::failed)
        summary.failures.emplace_back(listed.path, *result.failure);
    if (result.stream_faults)
        summary.stream_faults.emplace_back(listed.path, *result.check);
    summary.bytes_written += result.bytes_written;
    summary.bytes_read += result.bytes_read;
}

// Every recording's turn, in order, and those put off at the end. An interruption ends the batch after
// the recording it came in; the rest are never reached.
BatchSummary take_turns(Batch& batch, const std::vector<ListedRecording>& recordings, Console& console)
{
    std::vector<Turn> turns;
    for (std::size_t index = 0; index < recordings.size(); ++index)
        turns.push_back({ &recordings[index], index + 1 });
    BatchSummary summary;
    summary.recordings = recordings.size();
    BatchProgress progress(stream_sizes(recordings));
    auto started = std::chrono::steady_clock::now();
    for (std::size_t index = 0; index < turns.size() && !interrupted(); ++index) {
        Turn turn = turns[index];
        batch.reporter.batch_recording(progress.place(turn.number, turn.second_look, seconds_since(started)));
        ConversionResult result = take_turn(turn, batch.options, batch);
        batch.state = after_turn(batch.state, result.catalogued);
        if (result.outcome == ConversionOutcome::put_off)
            turns.push_back({ turn.listed, turn.number, true });
        else
            progress.turn_done(turn.number, result.bytes_written + result.bytes_read);
        count_turn(summary, *turn.listed, result);
        if (result.failure)
            batch.reporter.error(*result.failure);
        // Written out after each recording, so that a batch stopped part way has said what it did.
        static_cast<void>(console.flush());
    }
    summary.seconds = seconds_since(started);
    summary.never_reached = summary.recordings - summary.converted - summary.skipped - summary.failures.size();
    return summary;
}

}

int run_batch(const RunOptions& options, const BatchOptions& batch_options, Console& console, MessageRouting& routing)
{
    ConsoleReporter reporter(console, routing);
    const std::string* output_folder = batch_options.output_folder ? &*batch_options.output_folder : nullptr;
    if (RunOutcome allowed = refusal_of_batch(options, output_folder, reporter); !allowed) {
        reporter.error(allowed.error());
        return exit_status_failure;
    }
    RecordingList list = list_recordings(batch_options.inputs, output_folder, !options.skip_extraction);
    for (const std::string& folder : list.folders_passed_over)
        reporter.not_searched(folder);
    Batch batch {
        .options = options,
        .reporter = reporter,
        .watch = CatalogueWatch(options.catalogue_path),
        // -a empties the catalogue once: for the first recording whose line is written.
        .state = { .skip_extraction = options.skip_extraction, .start_afresh = options.start_afresh,
            .delete_input = options.delete_input, .check_stream = options.check_stream },
        .recordings = options.start_afresh ? keys_of(list.recordings) : std::vector<RecordingKey> {},
        .kept_catalogue = {},
        .report = options.report_path ? std::optional(ReportFile { *options.report_path, {} }) : std::nullopt,
    };
    BatchSummary summary = take_turns(batch, list.recordings, console);
    abandon_calls_on_interruption(false);

    // A reader that reads a pipe catalogue to its end ends here.
    static_cast<void>(batch.kept_catalogue.close());
    reporter.batch_done(summary);
    if (!summary.failures.empty() || summary.never_reached != 0)
        return exit_status_failure;
    reporter.all_done();
    return exit_status_success;
}
