// Many recordings in one run (-b): every recording of the files and folders named, converted one after
// another into one catalogue, skipping what it already holds, and a summary at the end.
#pragma once

#include "cli/run_options.h"

#include <string>
#include <string_view>

class Console;

// A recording's .ts name: a final ".rec", in any case, replaced by ".ts", or ".ts" added.
std::string transport_stream_name(std::string_view recording_name);

// Where a recording's .ts file goes: into `output_folder` when there is one, else beside the recording.
std::string transport_stream_path(const std::string& recording_path, const std::string* output_folder);

// Runs the batch and returns the exit status: 0 when no recording failed.
int run_batch(const RunOptions& options, Console& console);
