#include "archive/batch_plan.h"

namespace {

BatchDecision skip(SkipReason reason)
{
    BatchDecision decision;
    decision.action = BatchAction::skip;
    decision.skip = reason;
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
    if (facts.availability == Availability::gone)
        return skip(SkipReason::gone);
    if (facts.availability == Availability::being_converted)
        return skip(SkipReason::being_converted);
    if (facts.output_locked_elsewhere)
        return later();

    bool catalogued = facts.catalogued && !state.start_afresh;
    bool whole = facts.output == OutputHolding::whole_stream;
    if (catalogued && (state.skip_extraction || (whole && !state.delete_input)))
        return skip(SkipReason::already_catalogued);
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
