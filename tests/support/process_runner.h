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

// A batch's output with what depends on the clock left out: the time left before a recording, and the
// time and rate of the last line, which becomes "... written in T".
inline std::string without_times(const std::string& output)
{
    std::string result;
    std::size_t line_start = 0;
    bool first_line = true;
    while (line_start < output.size()) {
        std::size_t line_end = output.find('\n', line_start);
        bool has_end = line_end != std::string::npos;
        std::string line = output.substr(line_start, has_end ? line_end - line_start : std::string::npos);
        line_start = has_end ? line_end + 1 : output.size();

        std::size_t about = line.find(", about ");
        std::size_t left = line.rfind(" left");
        if (about != std::string::npos && left != std::string::npos && left >= about)
            line.erase(about, left + 5 - about);
        if (!first_line) {
            const std::string nothing = "nothing written or read, in ";
            std::size_t written = line.rfind(" written in ");
            std::size_t read = line.rfind(" read in ");
            if (line.rfind(nothing, 0) == 0)
                line = nothing + "T";
            else if (written != std::string::npos && (read == std::string::npos || written > read))
                line = line.substr(0, written) + " written in T";
            else if (read != std::string::npos)
                line = line.substr(0, read) + " read in T";
        }
        first_line = false;
        result += line;
        if (has_end)
            result += '\n';
    }
    return result;
}
