// The program's entry: the platform's own main takes the arguments, as UTF-8, and calls this.
#pragma once

// Defined by the command-line driver (cli/main.cpp); returns the exit status.
int program_entry(int argument_count, const char* const* arguments);
