// Writes the recording's transport stream, every byte from the end of the header area on, to the .ts file.
#pragma once

#include "platform/file.h"
#include "platform/file_identity.h"
#include "recording/stream_check.h"
#include "recording/stream_copy.h"
#include "shared/stage_report.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>

inline constexpr std::size_t copy_buffer_size = 16 * 1024 * 1024;

struct ExtractionSettings {
    StreamCopySettings copy;
    StreamCopyCalls calls = StreamCopyCalls::system();
    // Returns null when the memory cannot be had; tests use that to reach the out-of-memory path.
    std::function<std::unique_ptr<std::byte[]>(std::size_t)> allocate_buffer = [](std::size_t size) {
        // Left uninitialised on purpose: pages the copy never touches cost no memory.
        return std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[size]);
    };
    // Flushes a .ts file and its folder entry to the disk before reporting success, for runs that then
    // delete the recording. Anything but a regular file has nothing to flush.
    bool sync_to_disk = false;
    // Why the file just opened at the output path must not be written over (it holds a recording or a
    // catalogue, say), judged through its handle under its lock before anything is emptied; empty when
    // it may be.
    std::function<StageOutcome(NativeHandle opened, const FileIdentity& identity)> refuse_output;
    // When set, every byte of the stream goes through it on its way.
    StreamChecker* checker = nullptr;
};

// The recording as the run opened it.
struct OpenRecording {
    NativeHandle handle = no_handle;
    std::string path;
    FileIdentity identity;  // taken when it was opened: its size then is the size to copy
    bool sequential = false;  // read in order, from just past the header block
    std::span<const std::byte> already_read;  // of a sequential source: the stream's bytes read with the header
};

// What a complete extraction wrote.
struct WrittenStream {
    FileIdentity output;
    std::uint64_t bytes_copied = 0;
    // Holds the .ts file's lock after the file itself is closed, until the run lets it go: no other
    // run writes into it while this one still relies on what it holds.
    File lock;
};

struct ExtractionResult {
    WrittenStream stream;  // what was written, when nothing failed
    StageOutcome failure;
};

// Opens `output_path`, takes an exclusive lock on a regular file without waiting for it, and checks
// that what was opened is not the recording itself, was not written by another run between the open
// and the lock, and is not refused by `refuse_output` (judged as opened, so a link put in place
// meanwhile cannot redirect the write); then truncates it and copies the
// stream into it, announcing the stage and a chunk per 16 MiB. Fails when the output cannot be opened,
// locked, written or closed, when another run is writing it, when the copy buffer cannot be had, or
// when the recording cannot be read to its end, which for a regular file is the size it had when it
// was opened.
[[nodiscard]] ExtractionResult extract_transport_stream(const OpenRecording& input, const std::string& output_path,
    ProgressReporter& reporter, const ExtractionSettings& settings = {});

// Reads the recording's stream through `settings.checker` without writing it anywhere, announcing it
// and a chunk per 16 MiB as the extraction does. Fails when the copy buffer cannot be had or the
// recording cannot be read to its end.
[[nodiscard]] StageOutcome check_transport_stream(const OpenRecording& input, ProgressReporter& reporter,
    const ExtractionSettings& settings);
