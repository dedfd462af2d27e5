#include "support/captured_console.h"

#include <cstdlib>

CapturedConsole::CapturedConsole()
    : stream_(open_memstream(&buffer_, &size_))
    , console_(stream_, false)
{
}

CapturedConsole::~CapturedConsole()
{
    std::fclose(stream_);
    std::free(buffer_);
}

std::string CapturedConsole::text()
{
    std::fflush(stream_);
    return { buffer_, size_ };
}
