#include "archive/batch_plan.h"

namespace {

BatchDecision skip(SkipReason reason)
{
    BatchDecision decision;
    decision.action = BatchAction::skip;
    decision.skip = reason;
    return decision;
}

BatchDecision fail()
{
    BatchDecision decision;
    decision.action = BatchAction::fail;
    return decision;
}

BatchDecision later()
{
    BatchDecision decision;
    decision.action = BatchAction::judge_again_later;
    return decision;
}

BatchDecision refuse(BatchRefusal refusal)
{
    BatchDecision decision;
    decision.action = BatchAction::refuse;
    decision.refusal = refusal;
    return decision;
}

}

BatchDecision decide(const RecordingFacts& facts, const BatchState& state)
{
    switch (facts.opening) {
    case Opening::opened:
        break;
    case Opening::locked_elsewhere:
        return skip(SkipReason::being_converted);
    case Opening::missing:
        if (facts.listed_from_folder || facts.seen_before)
            return skip(SkipReason::gone);
        return fail();
    case Opening::other_failure:
        return fail();
    }
    if (facts.output_locked_elsewhere)
        return later();

    bool catalogued = facts.catalogued && !state.start_afresh;
    bool whole = facts.output == OutputHolding::whole_stream;
    if (catalogued && (state.skip_extraction || (whole && !state.delete_input))) {
        BatchDecision decision = skip(SkipReason::already_catalogued);
        decision.check_stream = state.skip_extraction && state.check_stream;
        return decision;
    }
    BatchDecision decision;
    decision.start_afresh = state.start_afresh;
    if (!state.skip_extraction && whole && (catalogued || facts.output_claimed_by.empty())) {
        decision.action = BatchAction::compare_in_full;
        return decision;
    }
    if (!state.skip_extraction) {
        if (!facts.output_claimed_by.empty())
            return refuse(BatchRefusal::output_claimed);
        if (facts.output == OutputHolding::something_else)
            return refuse(BatchRefusal::output_holds_something);
    }
    decision.action = catalogued ? BatchAction::write_stream_only : BatchAction::convert;
    return decision;
}

BatchState after_turn(const BatchState& state, bool line_written)
{
    BatchState next = state;
    next.start_afresh = state.start_afresh && !line_written;
    return next;
}
