#include "support/captured_console.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

int scratch_descriptor()
{
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        throw std::runtime_error("cannot make a scratch file for the console");
    int descriptor = ::dup(::fileno(file));
    std::fclose(file);
    return descriptor;
}

}

CapturedConsole::CapturedConsole()
    : descriptor_(scratch_descriptor())
    , console_(descriptor_, false)
{
}

CapturedConsole::~CapturedConsole()
{
    ::close(descriptor_);
}

std::string CapturedConsole::text()
{
    if (!console_.flush())
        throw std::runtime_error("the captured console could not be written");
    std::string text;
    char chunk[4096];
    ssize_t length;
    for (off_t offset = 0; (length = ::pread(descriptor_, chunk, sizeof chunk, offset)) > 0; offset += length)
        text.append(chunk, static_cast<std::size_t>(length));
    return text;
}
