// Setting up the process's standard descriptors before a run uses them.
#pragma once

#include <string_view>

// A write into a pipe whose reader has gone must be an error the run reports, not a signal that ends
// the process half way. And a standard descriptor that was closed is opened on /dev/null, so that
// the recording or the .ts file never gets descriptor 1 and the messages are not written into it.
void prepare_standard_streams();

// A last word on standard error, for when the messages themselves could not be written.
void report_to_standard_error(std::string_view text);


bool is_terminal(int descriptor);
