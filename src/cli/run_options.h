// The run's options, as the command line sets them: those of one recording, and those of a batch.
#pragma once

#include <optional>
#include <string>
#include <vector>

// How one recording is converted.
struct RunOptions {
    std::string input_path = "test.rec";
    std::string output_path = "test.ts";
    std::string catalogue_path = "rec.csv";
    // -o or the second positional argument named the .ts file: it is replaced whatever it holds. The
    // default test.ts is written only over nothing, or over this recording's own stream.
    bool output_named = false;
    bool start_afresh = false;     // -a: the catalogue starts afresh
    bool delete_input = false;     // -k: the recording is removed after a complete run
    bool skip_extraction = false;  // -t: no .ts file is written
    bool utf8_texts = false;       // -u: the catalogue's texts are decoded to UTF-8
    bool check_stream = false;     // -s: every packet of the stream is checked and reported on
    // -j FILE: one JSON line per recording is appended to it.
    std::optional<std::string> report_path = std::nullopt;
};

// -b: many recordings in one run, each converted with the RunOptions above but for its own paths.
struct BatchOptions {
    bool batch = false;
    // Every positional argument, and each -i, names a recording or a folder of them, in the order given.
    std::vector<std::string> inputs;
    // -o names the folder the .ts files go to; without it each goes beside its recording.
    std::optional<std::string> output_folder;
};

// A run with -k removes the recording once its stream is safely written; with -t no stream is written,
// so the recording is kept.
inline bool removes_input(const RunOptions& options)
{
    return options.delete_input && !options.skip_extraction;
}
