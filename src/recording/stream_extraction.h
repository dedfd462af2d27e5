// Writes the recording's transport stream, every byte from the end of the header area on, to the .ts file.
#pragma once

#include "recording/stream_copy.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class Console;

inline constexpr std::size_t copy_buffer_size = 16 * 1024 * 1024;

struct ExtractionSettings {
    StreamCopySettings copy;
    StreamCopyCalls calls = StreamCopyCalls::system();
    // Returns null when the memory cannot be had; tests use that to reach the out-of-memory path.
    std::function<std::unique_ptr<std::byte[]>(std::size_t)> allocate_buffer = [](std::size_t size) {
        // Left uninitialised on purpose: pages the copy never touches cost no memory.
        return std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[size]);
    };
    // Flushes the .ts file and its folder entry to the disk before reporting success, for runs that then
    // delete the recording.
    bool sync_to_disk = false;
};

// Creates or truncates `output_path` and copies the stream into it, printing the stage's messages and a
// dot per 16 MiB chunk. Fails, after printing why, when the output cannot be opened, written or closed,
// when the copy buffer cannot be had, or when the recording cannot be read to its end.
[[nodiscard]] bool extract_transport_stream(int input_descriptor, const std::string& input_path,
    const std::string& output_path, Console& console, const ExtractionSettings& settings = {});
