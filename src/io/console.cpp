#include "io/console.h"

Console::Console(std::FILE* stream, bool write_out_each_message)
    : stream_(stream), write_out_each_message_(write_out_each_message)
{
}

void Console::print(std::string_view text, std::string_view argument)
{
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fwrite(argument.data(), 1, argument.size(), stream_);
    if (write_out_each_message_)
        std::fflush(stream_);
}
