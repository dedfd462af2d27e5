// What the stages tell the run sequence: the progress they announce, and the kinds of failure they
// report. Each layer owns the reasons it refuses for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

struct FileIdentity;

// What a stage was doing when it failed, which a message words as "cannot open", "cannot write" and so on.
enum class Action {
    open,
    read,
    write,
    lock,
    remove,
    get_copy_buffer,  // the memory to copy through could not be had
};

// A system call failed, and its error number says why.
struct SystemError {
    Action action;
    std::string path;
    int error_number;
};

// The program's own reason not to go on, where no system call failed. `Reason` is the refusing layer's
// own: a recording's stream, the catalogue, the run, the batch.
template <typename Reason>
struct Refusal {
    Action action;
    std::string path;
    Reason reason;
    std::string other_path = {};  // for a reason that names another file
};

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
    // -a copied the lines it empties into `copy_path` first.
    virtual void kept_old_lines(std::uint64_t lines, const std::string& copy_path) = 0;
    virtual void appending_to_catalogue(const std::string& catalogue_path) = 0;

protected:
    ~ProgressReporter() = default;
};
