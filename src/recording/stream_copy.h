// Copies a byte range from one descriptor to another in fixed chunks, reporting each chunk as it completes.
#pragma once

#include "platform/file.h"
#include "platform/kernel_copy.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// The system calls the copy makes. Tests put their own here to inject short transfers and failures.
struct StreamCopyCalls {
    std::function<std::int64_t(NativeHandle, void*, std::size_t, std::uint64_t)> read_at;
    std::function<std::int64_t(NativeHandle, void*, std::size_t)> read;
    WriteCall write;
    std::function<std::int64_t(NativeHandle, std::int64_t*, NativeHandle, std::size_t)> kernel_move;

    static StreamCopyCalls system();
};

enum class CopyMethod {
    // Read a piece at an explicit offset into the buffer, write it, repeat.
    buffered,
    // Where the system has a kernel copy: between regular files let the kernel move the data through a
    // pipe, and from a pipe into a regular file straight across, so that the bytes never pass through
    // this process; fall back to `buffered`, from the exact offset reached, where the kernel will not.
    kernel_first,
};

// Where the stream is read from.
struct CopySource {
    NativeHandle input = no_handle;
    // For a file that can be positioned: where the stream starts. Reads are made at explicit offsets,
    // so the descriptor's own position does not matter.
    std::uint64_t offset = 0;
    // A pipe, FIFO, socket or terminal: read in order from where it stands; `offset` is not used.
    bool sequential = false;
    // The stream's first bytes, already read (with the header, from a sequential source); written and
    // counted before anything more is read.
    std::span<const std::byte> already_read;
};

inline constexpr std::uint64_t default_chunk_size = 16 * 1024 * 1024;

// Bytes per read and write when every byte is looked at on its way: small enough for the piece to stay
// in the processor's cache between the read, the look and the write. With reads on the page grain
// into a buffer on a page, 512 KiB measured faster than 128 KiB here; unaligned, larger pieces made
// the checked copy up to twice as slow.
inline constexpr std::size_t inspected_piece_size = 512 * 1024;

// Bytes per read when the stream is only read to be checked (-t -s): nothing is written, so the piece
// need only stay in the cache for the look; fewer, larger reads measured faster, up to 1 MiB.
inline constexpr std::size_t checked_read_piece_size = 1024 * 1024;

struct StreamCopySettings {
    std::uint64_t chunk_size = default_chunk_size;  // one progress report per chunk
    std::size_t piece_size = buffered_piece_size();  // bytes per read and write of the buffered copy
    std::size_t pipe_size = 1024 * 1024;            // the kernel path's pipe; the most a user may ask for
    CopyMethod method = CopyMethod::kernel_first;
    // Given every byte of the stream in order, before it is written. The bytes must then pass through
    // this process, so the copy is the buffered one.
    std::function<void(std::span<const std::byte>)> inspect;
    // Asked after each piece; true stops the copy there, short of its end.
    std::function<bool()> stop_requested;
};

enum class CopyOutcome { complete, read_failed, write_failed, stopped };

// Why a copy ended before the source's end, and the error number that says so.
struct CopyCutShort {
    CopyOutcome outcome;
    int error_number;
};

// The bytes a copy moved, whether or not it reached the end, and how it ended.
struct CopyResult {
    std::uint64_t bytes_copied = 0;
    Expected<void, CopyCutShort> ended;

    CopyOutcome outcome() const { return ended ? CopyOutcome::complete : ended.error().outcome; }
};

// Copies the source to its end, writing at the output's current position; with no output (no_handle)
// the source is only read, for `inspect` to look at. `chunk_done` runs once for each chunk that
// carried data and once more when the input is exhausted, so a complete copy of n bytes reports
// ceil(n / chunk_size) + 1 times. Only the first piece_size bytes of `buffer` are ever touched. Short
// reads and writes are continued and interrupted calls retried; a read or write error ends the copy
// and is returned, and so does a stop asked for between pieces.
CopyResult copy_stream(const CopySource& source, NativeHandle output, std::span<std::byte> buffer,
    const StreamCopySettings& settings, const StreamCopyCalls& calls, const std::function<void()>& chunk_done);
