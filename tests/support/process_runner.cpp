#include "support/process_runner.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

ProcessResult run_process(const std::vector<std::string>& command, const std::filesystem::path& working_folder)
{
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<const char*> arguments;
    for (const std::string& argument : command)
        arguments.push_back(argument.c_str());
    arguments.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(pipe_ends[0]);
        if (::dup2(pipe_ends[1], STDOUT_FILENO) < 0 || ::chdir(working_folder.c_str()) != 0)
            ::_exit(126);
        ::execvp(arguments[0], const_cast<char* const*>(arguments.data()));
        ::_exit(127);
    }
    ::close(pipe_ends[1]);

    ProcessResult result;
    char chunk[4096];
    for (;;) {
        ssize_t length = ::read(pipe_ends[0], chunk, sizeof chunk);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        result.output.append(chunk, static_cast<std::size_t>(length));
    }
    ::close(pipe_ends[0]);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    return result;
}

ProcessResult run_pelorus(const std::vector<std::string>& arguments, const std::filesystem::path& working_folder)
{
    std::vector<std::string> command { PELORUS_BINARY };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_process(command, working_folder);
}
