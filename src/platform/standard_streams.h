// The process's standard streams, made safe to use before a run uses them.
#pragma once

#include "platform/file.h"

#include <string_view>

// A write into a pipe whose reader has gone must be an error the run reports, not a signal that ends
// the process half way. And a standard stream that was closed is opened on the null device, so that
// the recording or the .ts file never takes its place and the messages are not written into it.
void prepare_standard_streams();

NativeHandle standard_output();
NativeHandle standard_error();

bool is_terminal(NativeHandle file);

// A last word on standard error, for when the messages themselves could not be written.
void report_to_standard_error(std::string_view text);
