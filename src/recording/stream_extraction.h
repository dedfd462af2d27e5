// Writes the recording's transport stream, every byte from the end of the header area on, to the .ts file.
#pragma once

#include "platform/file.h"
#include "platform/file_identity.h"
#include "recording/files_of_the_run.h"
#include "recording/stream_check.h"
#include "recording/stream_copy.h"
#include "shared/expected.h"
#include "shared/stage_report.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <variant>

inline constexpr std::size_t copy_buffer_size = 16 * 1024 * 1024;

// Why the stage refuses, where no system call failed.
enum class StreamRefusal {
    another_run_is_writing,  // another run holds the .ts file's lock, or wrote it between this run's open and its lock
    recording_shrank,        // the copy ended before the size the recording had when it was opened
};

// A .ts file that is another file of the run is refused with the role of that file.
using StreamFailure = std::variant<SystemError, Refusal<StreamRefusal>, Refusal<RunFileRole>>;
using StreamOutcome = Expected<void, StreamFailure>;

// The copy buffer starts on a page, so that reads land on whole pages.
inline constexpr std::size_t copy_buffer_alignment = 4096;

struct AlignedRelease {
    void operator()(std::byte* buffer) const { ::operator delete[](buffer, std::align_val_t(copy_buffer_alignment)); }
};

using CopyBuffer = std::unique_ptr<std::byte[], AlignedRelease>;

struct ExtractionSettings {
    StreamCopySettings copy;
    StreamCopyCalls calls = StreamCopyCalls::system();
    // Returns null when the memory cannot be had; tests use that to reach the out-of-memory path.
    std::function<CopyBuffer(std::size_t)> allocate_buffer = [](std::size_t size) {
        // Left uninitialised on purpose: pages the copy never touches cost no memory.
        return CopyBuffer(static_cast<std::byte*>(::operator new[](size, std::align_val_t(copy_buffer_alignment), std::nothrow)));
    };
    // Flushes a .ts file and its folder entry to the disk before reporting success, for runs that then
    // delete the recording. Anything but a regular file has nothing to flush.
    bool sync_to_disk = false;
    // When set, every byte of the stream goes through it on its way.
    StreamChecker* checker = nullptr;
};

// The recording as the run opened it.
struct StreamSource {
    NativeHandle handle = no_handle;
    std::string path;
    FileIdentity identity;  // taken when it was opened: its size then is the size to copy
    bool sequential = false;  // read in order, from just past the header block
    std::span<const std::byte> already_read;  // of a sequential source: the stream's bytes read with the header
};

// What was written into the .ts file.
struct WrittenStream {
    FileIdentity output;  // as it was opened
    std::uint64_t bytes_copied = 0;
    bool emptied = false;  // the copy began: whatever the file held before is gone
    // Holds the .ts file's lock after the file itself is closed, until the run lets it go: no other
    // run writes into it while this one still relies on what it holds.
    File lock;
};

// The .ts file, opened and locked, and not yet emptied: the caller may judge what it holds first.
struct OpenedOutput {
    File file;
    std::string path;
    WrittenStream written;
};

// Opens the .ts file, creating it if need be but emptying nothing; names it to `files` as opened, and
// refuses it when it is the recording (judged as opened, so a link put in place meanwhile cannot
// redirect the write); takes an exclusive lock on a regular file. Without `wait_for_lock` it refuses a
// file that another run holds, or wrote between this run's open and its lock; with it, it waits for the
// lock, and the caller judges the file afresh.
Expected<OpenedOutput, StreamFailure> open_output(FilesOfTheRun& files, const std::string& output_path, ProgressReporter& reporter,
    bool wait_for_lock = false);

// Empties the opened .ts file and copies the stream into it, announcing the copy and a chunk per 16 MiB.
// Fails when the output cannot be written or closed, when the copy buffer cannot be had, or when the
// recording cannot be read to its end, which for a regular file is the size it had when it was opened.
StreamOutcome write_stream_into(OpenedOutput& output, const StreamSource& input, ProgressReporter& reporter,
    const ExtractionSettings& settings);

// The bytes a pass over the stream read, whether or not it reached the end, and how it ended.
struct StreamRead {
    std::uint64_t bytes_read = 0;
    StreamOutcome ended;
};

// Reads the recording's stream through `settings.checker` without writing it anywhere, announcing it
// and a chunk per 16 MiB as the copy does. Fails when the copy buffer cannot be had or the recording
// cannot be read to its end.
StreamRead check_transport_stream(const StreamSource& input, ProgressReporter& reporter, const ExtractionSettings& settings);
