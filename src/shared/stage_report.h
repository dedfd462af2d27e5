// What the stages tell the run sequence: the progress they announce, and what failed when they fail.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FileIdentity;

// The step that failed, which the command line words as "cannot open", "cannot write" and so on.
enum class FailedStep {
    open,
    read,
    write,
    lock,
    remove,
    recognise,        // the file read is not a recording
    get_copy_buffer,  // the memory to copy through could not be had
};

// A reason of the program's own, where no system call failed.
enum class FixedReason {
    none,  // the system's error number says why
    is_the_input,
    is_the_output,
    is_a_recording,
    is_a_catalogue,
    is_not_a_catalogue,
    is_not_a_folder,
    is_the_ts_of,  // another recording of the same batch writes that .ts file: `other_path`
    another_run_is_writing,
    another_run_is_converting,
    holds_another_stream,  // a batch never writes over another recording's .ts file
    shrank_during_the_copy,
    no_longer_the_file_read,
    wrong_magic,
    unknown_version,  // the version found: `number`
    too_short,        // the length found: `number`
    no_stream,
};

struct StageFailure {
    FailedStep step = FailedStep::open;
    std::string path;
    int error_number = 0;
    FixedReason reason = FixedReason::none;
    std::uint64_t number = 0;
    std::string other_path;
    bool last_line_may_be_incomplete = false;  // a torn catalogue line could not be cut back
};

// Empty when the stage succeeded.
using StageOutcome = std::optional<StageFailure>;

inline StageFailure system_failure(FailedStep step, std::string path, int error_number)
{
    return { step, std::move(path), error_number, FixedReason::none, 0, {}, false };
}

inline StageFailure refusal(FailedStep step, std::string path, FixedReason reason)
{
    return { step, std::move(path), 0, reason, 0, {}, false };
}

// Where the stages announce their progress; the command line puts it into words.
class ProgressReporter {
public:
    // A file the run has opened or is about to write: the messages must never go into it.
    virtual void keep_messages_out_of(const FileIdentity& file) = 0;
    virtual void writing_stream(const std::string& output_path) = 0;
    virtual void copying_stream() = 0;
    // Instead of copying_stream, when the stream is only read to be checked.
    virtual void checking_stream() = 0;
    // Once per chunk of the stream, and once more at its end.
    virtual void chunk_done() = 0;
    virtual void stream_done() = 0;
    virtual void creating_catalogue(const std::string& catalogue_path) = 0;
    virtual void appending_to_catalogue(const std::string& catalogue_path) = 0;

protected:
    ~ProgressReporter() = default;
};
