// The program's entry on Windows: the arguments come as UTF-16 and are passed on as UTF-8.

#include "platform/entry.h"

#include <windows.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int index = 0; index < argc; ++index) {
        int length = ::WideCharToMultiByte(CP_UTF8, 0, argv[index], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
        if (length > 1)
            ::WideCharToMultiByte(CP_UTF8, 0, argv[index], -1, argument.data(), length, nullptr, nullptr);
        arguments.push_back(std::move(argument));
    }
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return program_entry(argc, pointers.data());
}
