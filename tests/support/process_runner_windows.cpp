// Running a program on Windows: CreateProcess with its standard output on a pipe.

#include "support/process_runner.h"

#include <windows.h>

#include <stdexcept>

namespace {

std::wstring wide(const std::string& text)
{
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

// The quoting the C runtime's argument splitter undoes: quotes around, backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t character : argument) {
        if (character == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        result += character;
    }
    result.append(backslashes * 2, L'\\');
    return result + L"\"";
}

}

ProcessResult run_process(const std::vector<std::string>& command, const std::filesystem::path& working_folder)
{
    SECURITY_ATTRIBUTES inherited { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherited, 0))
        throw std::runtime_error("CreatePipe failed");
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    std::wstring command_line;
    for (const std::string& argument : command)
        command_line += (command_line.empty() ? L"" : L" ") + quoted(wide(argument));

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process {};
    std::wstring folder = working_folder.wstring();
    BOOL started = ::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process);
    ::CloseHandle(write_end);
    if (!started) {
        ::CloseHandle(read_end);
        throw std::runtime_error("CreateProcess failed for " + command.front());
    }

    ProcessResult result;
    char chunk[4096];
    DWORD length = 0;
    while (::ReadFile(read_end, chunk, sizeof chunk, &length, nullptr) && length > 0)
        result.output.append(chunk, length);
    ::CloseHandle(read_end);

    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    ::GetExitCodeProcess(process.hProcess, &exit_code);
    result.exit_status = static_cast<int>(exit_code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return result;
}

ProcessResult run_pelorus(const std::vector<std::string>& arguments, const std::filesystem::path& working_folder)
{
    std::vector<std::string> command { PELORUS_BINARY };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_process(command, working_folder);
}
