// The process's standard streams, made safe to use before a run uses them.
#pragma once

#include "platform/file.h"

// A write into a pipe whose reader has gone, or past the file-size limit, must be an error the run
// reports, not a signal that ends the process half way. And a standard stream that was closed is
// opened on the null device, so that the recording or the .ts file never takes its place and the
// messages are not written into it.
void prepare_standard_streams();

NativeHandle standard_output();
NativeHandle standard_error();

bool is_terminal(NativeHandle file);
