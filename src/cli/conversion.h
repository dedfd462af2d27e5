// Converting one recording: the run sequence from opening the recording to the -k decision, as steps
// that announce their progress through a reporter and return how they went.
#pragma once

#include "archive/batch_plan.h"
#include "cli/failure.h"
#include "cli/run_options.h"
#include "platform/file.h"
#include "recording/recording_header.h"
#include "recording/stream_extraction.h"
#include "shared/stage_report.h"

#include <optional>
#include <string>

class CatalogueWatch;
struct StreamReport;

enum class ConversionOutcome { converted, skipped, failed };

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::converted;
    RunOutcome failure;       // what failed, when it failed
    bool catalogued = false;  // its line is in the catalogue
    bool stream_faults = false;  // with -s, the check found something other than no errors
};

// Why a -k run keeps its recording.
enum class KeepReason {
    no_stream_written,
    input_not_a_regular_file,
    output_not_a_regular_file,
    output_changed,
    catalogue_not_a_regular_file,
    changed_during_the_run,
};

// The progress of a whole conversion: the stages' own, and the run sequence's around them.
class ConversionReporter : public ProgressReporter {
public:
    virtual void reading_recording(const std::string& input_path) = 0;
    virtual void reading_header() = 0;
    virtual void skipping(const std::string& input_path, SkipReason reason, const std::string& catalogue_path) = 0;
    virtual void stream_checked(const StreamReport& report) = 0;
    virtual void keeping(const std::string& input_path, KeepReason reason) = 0;
    virtual void deleting(const std::string& input_path) = 0;

protected:
    ~ConversionReporter() = default;
};

// A recording opened to be converted: locked against other runs for as long as this is kept, and its
// header read.
struct OpenedRecording {
    File file;
    OpenRecording input;
    std::optional<RecordingHeader> header;
};

// Opens the recording `options` names, takes its lock without waiting (only a regular file is locked), and
// reads and checks its header. Fails when it cannot be opened or read, when it is no recording, and,
// with another_run_is_converting, when another run holds its lock.
[[nodiscard]] RunOutcome open_recording(const RunOptions& options, ConversionReporter& reporter, OpenedRecording& recording);

// Whose .ts name it is, and so what it may be written over.
enum class OutputGuard {
    none,          // named with -o or as the second argument: replaced whatever it holds
    default_name,  // the default test.ts: never over anything but nothing, or this recording's own stream
    batch_name,    // derived by a batch, whose plan has judged it; judged again once it is locked
};

// How an opened recording is converted.
struct ConversionPlan {
    // Its line is in the catalogue already: only the .ts file is written, and the catalogue goes
    // unannounced unless the line has gone meanwhile.
    bool line_is_there = false;
    // Which .ts files must not be written over: those that hold another recording's stream, when the
    // user did not choose the name.
    OutputGuard output_guard = OutputGuard::none;
    // What a batch knows of the catalogue: looked at once more under the catalogue's lock, so that a
    // line another run wrote meanwhile is not written twice. Null for a single run.
    CatalogueWatch* catalogue = nullptr;
};

// Refuses to write over what must not be written over, copies the stream (unless -t), appends the
// catalogue line and, with -k, deletes the recording when that is safe. Prints nothing itself: its
// progress goes to `reporter`, and a failure comes back in the result, for the caller to report.
ConversionResult convert_opened(OpenedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter);

// One recording from start to end, as a single run converts it. The closing "all done" is the caller's.
ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter);

// Refuses, before anything is opened for writing, a run that would write into the recording it reads,
// put the catalogue into the .ts file, overwrite another recording or a catalogue with a stream, write
// the default test.ts over another recording's stream, or append to a file that is not a catalogue;
// then names that can only be slips (a .ts named like a catalogue, a catalogue named like a stream or a
// recording); and a run whose catalogue cannot be written at all, before a long copy is wasted on it.
// The checks by content are made again on each file as it is opened; these catch the slips early.
[[nodiscard]] RunOutcome refusal_before_writing(const RunOptions& options, const OpenRecording& input, OutputGuard guard);

// A name that can only be a slip, with -t too: the .ts named like a catalogue, or the catalogue named
// like a stream or a recording. Compared without regard to case, as the system keeps the name.
[[nodiscard]] std::optional<Refusal<RunRefusal>> name_slip(const RunOptions& options);
