// Setting up the process's standard descriptors before a run uses them.
#pragma once

// A write into a pipe whose reader has gone must be an error the run reports, not a signal that ends
// the process half way.
void prepare_standard_streams();

bool is_terminal(int descriptor);
