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

#include <cerrno>

namespace {

// Whether the recording is there at its turn. One listed from a folder that has gone since was
// converted by another run with -k; one named on the command line that is missing is a failure, as for
// a single run. (One that goes after it was opened is in the catalogue, with its whole stream, by the
// time its lock is had, and is skipped for that.)
Availability availability_of(const ListedRecording& listed, const RunOutcome& opening)
{
    if (!opening)
        return Availability::here;
    if (const auto* refused = std::get_if<Refusal<RunRefusal>>(&*opening); refused && refused->reason == RunRefusal::another_run_is_converting)
        return Availability::being_converted;
    const auto* error = std::get_if<SystemError>(&*opening);
    bool missing = error && error->action == Action::open && error->error_number == ENOENT;
    return listed.from_folder && missing ? Availability::gone : Availability::here;
}

// What the plan needs to know of a recording that is here: what the catalogue holds, read again now
// that the recording's lock is held, and what its .ts file holds.
std::optional<SystemError> gather_facts(const ListedRecording& listed, const OpenedRecording& recording, const BatchState& state,
    CatalogueWatch& catalogue, RecordingFacts& facts)
{
    if (!state.start_afresh) {
        if (std::optional<SystemError> failure = catalogue.catch_up(recording.input.identity))
            return failure;
        facts.catalogued = catalogue.holds(recording_key(listed.path, *recording.header));
    }
    if (!state.skip_extraction) {
        OutputJudgement judgement = judge_output_path(recording.input, listed.output_path);
        if (judgement.error_number != 0)
            return SystemError { Action::read, listed.output_path, judgement.error_number };
        facts.output = judgement.holding;
    }
    facts.output_claimed_by = listed.output_claimed_by;
    return std::nullopt;
}

Failure refusal_of(BatchRefusal reason, const ListedRecording& listed, const RunOptions& options, const OpenedRecording& recording)
{
    if (reason == BatchRefusal::output_claimed)
        return Refusal<BatchRefusal> { Action::write, listed.output_path, reason, listed.output_claimed_by };
    // A recording or a catalogue at the .ts file's place is refused in the words a single run uses.
    if (RunOutcome refused = refusal_before_writing(options, recording.input, OutputGuard::batch_name))
        return std::move(*refused);
    return Refusal<BatchRefusal> { Action::write, listed.output_path, reason };
}

// One recording's turn: opened and locked, the facts gathered, the plan's decision carried out.
ConversionResult take_turn(const ListedRecording& listed, RunOptions options, BatchState state, CatalogueWatch& catalogue,
    ConsoleReporter& reporter)
{
    if (listed.unreadable_folder)
        return { ConversionOutcome::failed, listed.unreadable_folder, false, false };
    options.input_path = listed.path;
    options.output_path = listed.output_path;

    OpenedRecording recording;
    RunOutcome opening = open_recording(options, reporter, recording);
    RecordingFacts facts;
    facts.availability = availability_of(listed, opening);
    if (opening && facts.availability == Availability::here)
        return { ConversionOutcome::failed, std::move(opening), false, false };
    if (facts.availability == Availability::here) {
        if (std::optional<SystemError> failure = gather_facts(listed, recording, state, catalogue, facts))
            return { ConversionOutcome::failed, std::move(failure), false, false };
    }

    BatchDecision decision = decide(facts, state);
    switch (decision.action) {
    case BatchAction::skip:
        reporter.skipping(listed.path, decision.skip, options.catalogue_path);
        return { ConversionOutcome::skipped, std::nullopt, false, false };
    case BatchAction::refuse:
        return { ConversionOutcome::failed, refusal_of(decision.refusal, listed, options, recording), false, false };
    case BatchAction::convert:
    case BatchAction::write_stream_only:
        break;
    }
    options.append = !decision.start_afresh;
    ConversionPlan plan { decision.action == BatchAction::write_stream_only, OutputGuard::batch_name, &catalogue };
    return convert_opened(recording, options, plan, reporter);
}

}

int run_batch(const RunOptions& options, const BatchOptions& batch, Console& console, MessageRouting& routing)
{
    ConsoleReporter reporter(console, routing);
    const std::string* output_folder = batch.output_folder ? &*batch.output_folder : nullptr;
    if (output_folder && !identify_path(*output_folder).folder) {
        reporter.failed(Refusal<RunRefusal> { Action::write, *output_folder, RunRefusal::output_is_not_a_folder });
        return exit_status_failure;
    }
    // The batch names its .ts files itself; its catalogue is the one name that can be a slip.
    if (std::optional<Refusal<RunRefusal>> slip = name_slip(options)) {
        reporter.failed(*slip);
        return exit_status_failure;
    }

    std::vector<ListedRecording> recordings = list_recordings(batch.inputs, output_folder, !options.skip_extraction);
    CatalogueWatch catalogue(options.catalogue_path);
    BatchSummary summary { recordings.size(), 0, 0, {}, {} };
    // -a empties the catalogue once: for the first recording whose line is written.
    BatchState state { options.skip_extraction, !options.append };
    for (std::size_t index = 0; index < recordings.size(); ++index) {
        const ListedRecording& listed = recordings[index];
        reporter.batch_recording(index + 1, recordings.size());
        ConversionResult result = take_turn(listed, options, state, catalogue, reporter);
        state.start_afresh = state.start_afresh && !result.catalogued;
        if (result.outcome == ConversionOutcome::converted)
            ++summary.converted;
        else if (result.outcome == ConversionOutcome::skipped)
            ++summary.skipped;
        else
            summary.failed.push_back(listed.path);
        if (result.stream_faults)
            summary.stream_faults.push_back(listed.path);
        if (result.failure)
            reporter.failed(*result.failure);
        // Written out after each recording, so that a batch stopped part way has said what it did.
        static_cast<void>(console.flush());
    }

    reporter.batch_done(summary);
    if (!summary.failed.empty())
        return exit_status_failure;
    reporter.all_done();
    return exit_status_success;
}
