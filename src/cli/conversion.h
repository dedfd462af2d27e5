// Converting one recording: the run sequence from opening the recording to the -k decision, as an
// entry point that announces its progress through a reporter and returns how it went.
#pragma once

#include "cli/run_options.h"
#include "shared/stage_report.h"

#include <string>

class CatalogueHoldings;
struct StreamReport;

enum class ConversionOutcome { converted, skipped, failed };

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::converted;
    StageOutcome failure;     // what failed, when it failed
    bool catalogued = false;  // its line is in the catalogue
};

// Why a -k run keeps its recording.
enum class KeepReason {
    no_stream_written,
    input_not_a_regular_file,
    output_not_a_regular_file,
    catalogue_not_a_regular_file,
    changed_during_the_run,
};

// The progress of a whole conversion: the stages' own, and the run sequence's around them.
class ConversionReporter : public ProgressReporter {
public:
    virtual void reading_recording(const std::string& input_path) = 0;
    virtual void reading_header() = 0;
    virtual void skipping(const std::string& input_path, const std::string& catalogue_path) = 0;
    virtual void stream_checked(const StreamReport& report) = 0;
    virtual void keeping(const std::string& input_path, KeepReason reason) = 0;
    virtual void deleting(const std::string& input_path) = 0;

protected:
    ~ConversionReporter() = default;
};

// What a batch knows of one of its recordings that a single run does not.
struct BatchContext {
    // What the catalogue held when the batch began: a recording it holds, with its whole .ts file, is
    // skipped. Null when nothing is to be skipped.
    const CatalogueHoldings* catalogue_holdings = nullptr;
    // An earlier recording of the batch whose .ts file is this one's too, which this one must not
    // overwrite; empty when there is none.
    std::string output_claimed_by;
};

// Converts the recording `options` names: reads and checks its header, refuses to write over what
// must not be written over, copies its stream (unless -t), appends its catalogue line and, with -k,
// deletes it when that is safe. Prints nothing itself: its progress goes to `reporter`, and a
// failure comes back in the result, for the caller to report. The closing "all done" is the caller's.
ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter, const BatchContext& batch = {});
