// How far a batch has come by the bytes of its streams, and the time it may still take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Where a batch stands before one of its recordings.
struct BatchPlace {
    std::size_t number = 0;  // its place in the list, from 1
    std::size_t count = 0;   // recordings in the list
    bool second_look = false;
    std::optional<std::uint64_t> size = std::nullopt;  // its stream's, where it can be read
    std::uint64_t bytes_done = 0;                      // copied, read to be checked, or compared so far
    std::optional<std::uint64_t> bytes_in_all = std::nullopt;  // empty while any size is unknown
    std::optional<std::uint64_t> seconds_left = std::nullopt;  // at the rate so far, once there is one
};

// Counts every byte copied, read to be checked, or compared. A recording's stream counts in the total
// until its turn ends; from then on only the work done on it does, so a skipped recording leaves the
// total, and one whose file changed counts for what was done.
class BatchProgress {
public:
    // The streams' sizes, in the batch's order; empty where a size cannot be read (a FIFO, a device, a
    // file that is gone).
    explicit BatchProgress(std::vector<std::optional<std::uint64_t>> stream_sizes);

    // Where the batch stands, `seconds` after it began.
    BatchPlace place(std::size_t number, bool second_look, double seconds) const;

    // A recording's turn ended, after this many bytes of work; one put last has not ended its turn.
    void turn_done(std::size_t number, std::uint64_t bytes_worked);

    std::uint64_t bytes_done() const { return done_; }

private:
    std::vector<std::optional<std::uint64_t>> sizes_;
    std::uint64_t in_all_ = 0;
    bool all_known_ = true;
    std::uint64_t done_ = 0;
};

// The rate is not known before the batch has worked this long: a first second is too short to go by.
inline constexpr double seconds_before_a_rate = 1.0;
