#include "io/console.h"

Console::Console(std::FILE* stream, bool write_out_each_message)
    : stream_(stream), write_out_each_message_(write_out_each_message)
{
}

void Console::print(std::string_view text, std::string_view argument)
{
    // An empty view may carry no address at all, which fwrite must not be given.
    for (std::string_view part : { text, argument })
        if (!part.empty())
            std::fwrite(part.data(), 1, part.size(), stream_);
    if (write_out_each_message_)
        std::fflush(stream_);
}
