#include "archive/batch_plan.h"

namespace {

BatchDecision skip(SkipReason reason)
{
    BatchDecision decision;
    decision.action = BatchAction::skip;
    decision.skip = reason;
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

    bool catalogued = facts.catalogued && !state.start_afresh;
    if (catalogued && (state.skip_extraction || facts.output == OutputHolding::whole_stream))
        return skip(SkipReason::already_catalogued);
    if (!state.skip_extraction) {
        if (!facts.output_claimed_by.empty())
            return refuse(BatchRefusal::output_claimed);
        if (facts.output == OutputHolding::something_else)
            return refuse(BatchRefusal::output_holds_something);
    }
    BatchDecision decision;
    decision.action = catalogued ? BatchAction::write_stream_only : BatchAction::convert;
    decision.start_afresh = state.start_afresh;
    return decision;
}
