// The run's messages in words, on the console: every message a run prints is worded here.
#pragma once

#include "cli/conversion.h"
#include "cli/failure.h"
#include "shared/stage_report.h"

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

class Console;
class MessageRouting;

// How a batch went, for its closing lines.
struct BatchSummary {
    std::size_t recordings = 0;
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::vector<std::string> failed;  // the recordings that failed, in order
    std::vector<std::string> stream_faults;  // with -s, the recordings whose stream check found anything
};

// What failed, as a message says it after "error: ": "cannot write a.ts: No space left on device".
std::string describe_failure(const Failure& failure);

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

    void failed(const Failure& failure);
    // A failure of one layer's kinds.
    template <typename... Kinds>
    void failed(const std::variant<Kinds...>& failure)
    {
        failed(widened(failure));
    }
    // Before each recording of a batch: where it stands in the batch, and whether it was put last to be
    // judged again.
    void batch_recording(std::size_t number, std::size_t total, bool second_look = false);
    // A folder inside a folder the batch was given: named, not searched.
    void not_searched(const std::string& folder_path);
    // Another run is writing its .ts file: it is judged again at the end of the batch.
    void putting_last(const std::string& input_path, const std::string& output_path);
    // The summary line, a line for each recording that failed and one for each whose stream has
    // faults; "all done" is the caller's.
    void batch_done(const BatchSummary& summary);
    void all_done();

private:
    Console& console_;
    MessageRouting* routing_;
};
