// The run's messages in words, on the console: every message a run prints is worded here.
#pragma once

#include "archive/batch_progress.h"
#include "cli/conversion.h"
#include "cli/failure.h"
#include "shared/stage_report.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

class Console;
class MessageRouting;

// How a batch went, for its closing lines.
struct BatchSummary {
    std::size_t recordings = 0;
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::vector<std::pair<std::string, Failure>> failures;  // the recordings that failed, in order, and why
    std::vector<std::pair<std::string, StreamReport>> stream_faults;  // with -s, those whose check found anything
    std::size_t never_reached = 0;  // after an interruption, the recordings whose turn never came
    std::uint64_t bytes_written = 0;
    std::uint64_t bytes_read = 0;
    double seconds = 0;
};

// A size in the binary units: "1000 bytes", "1.5 KiB", "4.3 GiB".
std::string describe_size(std::uint64_t bytes);

// A time: "0.4 s" (a tenth shown below ten seconds, where there is one), "45 s", "3 min 5 s", "2 h 10 min".
std::string describe_duration(double seconds);

// What failed, as a message says it after "error: " (or, for an interruption, "interrupted: "): "cannot
// write a.ts: No space left on device", "a.ts is not whole".
std::string describe_failure(const Failure& failure);

// What failed, as a report gives the reason: as above, an interruption with "interrupted: " in front.
std::string failure_reason(const Failure& failure);

// Why a recording is skipped, as its message says it after its path: "already in archive.csv".
std::string describe_skip(SkipReason reason, const std::string& catalogue_path);

// What the stream check found, as its line says it after "stream: ": "15311 packets, no errors,
// 00:00:06 by PCR".
std::string describe_stream(const StreamReport& report);

class ConsoleReporter final : public ConversionReporter {
public:
    // Without a routing, as in tests, messages stay where the console writes them.
    explicit ConsoleReporter(Console& console, MessageRouting* routing = nullptr) : console_(console), routing_(routing) { }
    ConsoleReporter(Console& console, MessageRouting& routing) : ConsoleReporter(console, &routing) { }

    void keep_messages_out_of(const FileIdentity& file) override;
    void writing_stream(const std::string& output_path) override;
    void copying_stream() override;
    void chunk_done() override;
    void stream_done() override;
    void creating_catalogue(const std::string& catalogue_path) override;
    void kept_old_lines(std::uint64_t lines, const std::string& copy_path) override;
    void appending_to_catalogue(const std::string& catalogue_path) override;
    void reading_recording(const std::string& input_path) override;
    void reading_header() override;
    void skipping(const std::string& input_path, SkipReason reason, const std::string& catalogue_path) override;
    void stream_checked(const StreamReport& report) override;
    void checking_stream() override;
    void comparing_stream(const std::string& output_path) override;
    void stream_compared(bool equal) override;
    void keeping(const std::string& input_path, KeepReason reason) override;
    void deleting(const std::string& input_path) override;

    void error(const Failure& failure) override;
    // A failure of one layer's kinds.
    template <typename... Kinds>
    void error(const std::variant<Kinds...>& failure)
    {
        error(widened(failure));
    }
    // Before each recording of a batch: where it stands in the batch, and whether it was put last to be
    // judged again. The recording's own reading messages are held from here until it is known that it
    // is not skipped: a skipped one says only its place and why.
    void batch_recording(const BatchPlace& place);
    // A folder inside a folder the batch was given: named, not searched.
    void not_searched(const std::string& folder_path);
    // Another run is writing its .ts file: it is judged again at the end of the batch.
    void putting_last(const std::string& input_path, const std::string& output_path);
    // The summary line, a line for each recording that failed and one for each whose stream has
    // faults; "all done" is the caller's.
    void batch_done(const BatchSummary& summary);
    void all_done();

private:
    // Prints, after anything held.
    void say(std::string_view text, std::string_view argument = {});
    void hold_or_say(std::string_view text, std::string_view argument);

    Console& console_;
    MessageRouting* routing_;
    bool holding_ = false;
    std::string held_;
};
