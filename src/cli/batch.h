// Many recordings in one run (-b): every recording of the files and folders named, converted one after
// another into one catalogue, skipping what it already holds, and a summary at the end.
#pragma once

#include "cli/run_options.h"

class Console;
class MessageRouting;

// Runs the batch and returns the exit status: 0 when no recording failed.
// Each recording is converted with `options`, but for its own paths.
int run_batch(const RunOptions& options, const BatchOptions& batch, Console& console, MessageRouting& routing);
