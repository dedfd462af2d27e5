// Runs a program in a chosen folder and collects its standard output and exit status.
#pragma once

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

struct ProcessResult {
    int exit_status = -1;  // -1 when the program did not exit normally (on Windows, also the status -1)
    std::string output;
};

ProcessResult run_process(const std::vector<std::string>& command, const std::filesystem::path& working_folder);

// The built pelorus binary, given its arguments.
ProcessResult run_pelorus(const std::vector<std::string>& arguments, const std::filesystem::path& working_folder);

// A batch's output with what depends on the clock left out: the time left before a recording, and the
// time and rate of the last line, which becomes "... written in T".
inline std::string without_times(const std::string& output)
{
    std::string text = std::regex_replace(output, std::regex(", about [^\n]* left"), "");
    return std::regex_replace(text, std::regex("\n(.* (written|read)|nothing written or read,) in [^\n]*"), "\n$1 in T");
}
