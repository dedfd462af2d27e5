// Runs a program in a chosen folder and collects its standard output and exit status.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct ProcessResult {
    int exit_status = -1;  // -1 when the program did not exit normally (on Windows, also the status -1)
    std::string output;
};

ProcessResult run_process(const std::vector<std::string>& command, const std::filesystem::path& working_folder);

// The built pelorus binary, given its arguments.
ProcessResult run_pelorus(const std::vector<std::string>& arguments, const std::filesystem::path& working_folder);
