// Moving a stream's bytes inside the kernel, where the system can: only Linux does, with splice.
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// Moves up to `length` bytes from `input` into `output` inside the kernel, one end being a pipe:
// from `*input_offset`, advanced by what moved, or in order when it is null. Bytes moved, 0 at the end
// of the input, -1 on an error (ENOSYS where the system has no such call).
std::int64_t kernel_move(NativeHandle input, std::int64_t* input_offset, NativeHandle output, std::size_t length);

// A pipe inside the kernel that a copy between two files can pass through.
struct KernelPipe {
    File read_end;
    File write_end;
    std::size_t capacity = 0;
};

// Empty where the system has none, or none of at least `capacity` bytes: with a small pipe the kernel
// path is slower than the buffered copy, so it is then not taken at all.
std::optional<KernelPipe> make_kernel_pipe(std::size_t capacity);

// Asks for a larger buffer in a pipe being read, so that the writer fills it in fewer, larger steps;
// where the system cannot, the pipe stays as it is.
void grow_pipe(NativeHandle pipe, std::size_t capacity);

// Tells the system the file will be read once from start to end, where it takes such advice.
void advise_sequential(NativeHandle file);
