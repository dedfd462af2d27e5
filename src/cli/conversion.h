// Converting one recording: the run sequence from opening the recording to the -k decision, as steps
// that announce their progress through a reporter and return how they went.
#pragma once

#include "archive/batch_plan.h"
#include "catalogue/catalogue.h"
#include "catalogue/report.h"
#include "cli/failure.h"
#include "cli/run_options.h"
#include "platform/file.h"
#include "recording/files_of_the_run.h"
#include "recording/recording_header.h"
#include "recording/stream_check.h"
#include "recording/stream_extraction.h"
#include "shared/stage_report.h"

#include <optional>
#include <string>
#include <vector>

class CatalogueWatch;

enum class ConversionOutcome {
    converted,
    skipped,
    failed,
    put_off,  // a batch's: another run is writing its .ts file, so it is judged again at the end
};

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::converted;
    std::optional<Failure> failure = std::nullopt;  // what failed, when it failed
    bool catalogued = false;  // its line is in the catalogue
    bool stream_faults = false;  // with -s, the check found something other than no errors
    // The work done on the stream: bytes copied into the .ts file, and bytes read only, to be checked
    // or compared.
    std::uint64_t bytes_written = 0;
    std::uint64_t bytes_read = 0;
    std::optional<StreamReport> check = std::nullopt;  // what the check found, with -s
    std::string output_not_whole = {};  // a .ts file that a failure left emptied and not whole
    std::optional<SkipReason> skip = std::nullopt;  // why it was skipped
    bool stream_written = false;  // its .ts file was written
    bool line_written = false;    // its line was appended
    bool reported = false;        // its object is in the report
};

// A failure once the run is interrupted is the interruption's: the call was abandoned, or the copy
// stopped. It names the .ts file left not whole, or else the recording.
void blame_interruption(ConversionResult& result, const std::string& input_path);

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
    // A .ts file that looks whole is compared with the stream in full; a chunk is reported as the copy does.
    virtual void comparing_stream(const std::string& output_path) = 0;
    virtual void stream_compared(bool equal) = 0;
    virtual void keeping(const std::string& input_path, KeepReason reason) = 0;
    virtual void deleting(const std::string& input_path) = 0;
    // A failure said at once, besides the one the result carries.
    virtual void error(const Failure& failure) = 0;

protected:
    ~ConversionReporter() = default;
};

// A recording opened to be converted: locked against other runs for as long as this is kept, and its
// header read.
struct LockedRecording {
    File file;
    StreamSource input;
    std::optional<RecordingHeader> header;
    // What the recording is known by in a catalogue: the name its file system holds for it where that
    // can differ (an 8.3 short name on Windows), else its path as given.
    std::string name;
    // The files of its run: named by their paths before the recording is read, and again through
    // their handles as each is opened.
    FilesOfTheRun files;
};

// Opens the recording `options` names, takes its lock without waiting (only a regular file is locked), and
// reads and checks its header. Fails when it cannot be opened or read, when it is no recording, and,
// with another_run_is_converting, when another run holds its lock.
RunOutcome open_recording(const RunOptions& options, ConversionReporter& reporter, LockedRecording& recording);

// Whose .ts name it is, and so what it may be written over.
enum class OutputGuard {
    none,          // named with -o or as the second argument: replaced whatever it holds
    default_name,  // the default test.ts: never over anything but nothing, or this recording's own stream
    batch_name,    // derived by a batch, whose plan has judged it; judged again once it is locked
};

// How much of the catalogue refusal_before_writing judges.
enum class CatalogueChecks {
    all,
    // A batch judged its catalogue when it began, and judges it again under its lock at each line:
    // each recording adds only that the catalogue must not be its recording or its .ts file.
    against_this_recording,
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
    CatalogueWatch* watch = nullptr;
    // A batch's recordings, whose lines -a empties without keeping a copy. Null for a single run.
    const std::vector<RecordingKey>* batch_recordings = nullptr;
    CatalogueChecks catalogue_checks = CatalogueChecks::all;
    // A batch's: a catalogue that is no regular file (a pipe) is opened once, at the first line, and
    // kept open here, so that a reader that reads to its end gets every line. Null for a single run.
    File* kept_catalogue = nullptr;
    // With -j: the report, which gets the recording's object once its outcome is known, before -k
    // deletes anything.
    ReportFile* report = nullptr;
};

// What becomes of the stream once the .ts file is open and locked.
enum class StreamWork {
    copy,           // empty the .ts file and copy the stream into it
    compare_first,  // it looks whole: compare it in full, and copy only if it differs
};

// Refuses to write over what must not be written over, copies the stream (unless -t), appends the
// catalogue line and, with -k, deletes the recording when that is safe. Prints nothing itself: its
// progress goes to `reporter`, and a failure comes back in the result, for the caller to report.
ConversionResult convert_opened(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter);

// The steps of convert_opened, for a batch that decides between them. First, unless -t, the .ts file is
// opened without being emptied and locked, waiting for another run's lock with `wait_for_lock`, and
// what it holds is judged as opened: never the recording itself, another recording or a catalogue.
Expected<OpenedOutput, Failure> open_stream_file(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, bool wait_for_lock);

// Then the stream (copied, or compared first; with -t only checked, with -s), the line, and -k.
ConversionResult finish_conversion(LockedRecording& recording, const RunOptions& options, const ConversionPlan& plan,
    ConversionReporter& reporter, OpenedOutput& output, StreamWork work);

// Reads the opened recording's stream only to check it (-t -s), for one a batch skips as converted,
// and reports what the check found. Nothing is written.
ConversionResult check_only(LockedRecording& recording, const RunOptions& options, ConversionReporter& reporter);

// One recording from start to end, as a single run converts it, its object added to `report` when
// there is one. The closing "all done" is the caller's.
ConversionResult convert_recording(const RunOptions& options, ConversionReporter& reporter, ReportFile* report = nullptr);

// The end of a recording's turn: a failure after an interruption is the interruption's, and with a
// report, the recording's object is appended to it, once. A report that cannot be written fails the
// recording; when it had failed already, that failure is kept and the report's is said at once.
void finish_turn(ConversionResult& result, const RunOptions& options, LockedRecording& recording, ReportFile* report,
    ConversionReporter& reporter);

// Refuses, before anything is opened for writing, a run that would write into the recording it reads,
// put the catalogue into the .ts file, overwrite another recording or a catalogue with a stream, write
// the default test.ts over another recording's stream, or append to a file that is not a catalogue;
// then names that can only be slips (a .ts named like a catalogue, a catalogue named like a stream or a
// recording); and a run whose catalogue cannot be written at all, before a long copy is wasted on it.
// The checks by content are made again on each file as it is opened; these catch the slips early.
RunOutcome refusal_before_writing(const RunOptions& options, const LockedRecording& recording, OutputGuard guard,
    CatalogueChecks checks = CatalogueChecks::all);

// The checks of refusal_before_writing that concern the catalogue alone, as a batch makes them before
// its first recording, with the run's other files as far as they are known.
RunOutcome refusal_of_catalogue(const RunOptions& options, const FilesOfTheRun& files);

// The report's checks by its path: never another file of the run and, with `whole`, holding nothing but
// a report and open to be appended to. A batch judges it whole once, before its first recording.
RunOutcome refusal_of_report(const FilesOfTheRun& files, bool whole);

// The files of the run the options name, named to `files` by their paths, before anything is read.
void name_by_path(const RunOptions& options, FilesOfTheRun& files, ProgressReporter& reporter);

// A name that can only be a slip, with -t too: the .ts named like a catalogue, or the catalogue named
// like a stream or a recording. Compared without regard to case, as the system keeps the name.
Expected<void, Refusal<RunRefusal>> name_slip(const RunOptions& options);

// -k removes only the plain file that was read: the path itself, not followed through a link, must
// still be that regular file.
bool names_the_file_read(const std::string& input_path, const FileIdentity& input);
