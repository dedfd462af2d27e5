#include "io/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// What has reached the other end of the pipe so far, without waiting for more.
std::string available(int read_end)
{
    std::string text;
    char chunk[256];
    ssize_t length;
    while ((length = ::read(read_end, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(length));
    return text;
}

TEST(Console, WritesEachMessageOutAtOnceOnlyWhenAskedTo)
{
    for (bool write_out_each_message : { true, false }) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
        std::FILE* stream = ::fdopen(ends[1], "w");
        ASSERT_NE(stream, nullptr);
        // A pipe is fully buffered, as redirected output is; a terminal is where messages go out at once.
        ASSERT_EQ(std::setvbuf(stream, nullptr, _IOFBF, 1 << 16), 0);
        Console console(stream, write_out_each_message);

        console.print("\nprocessing file ...");
        console.print(".");
        console.print("\nerror: cannot write ", "a.ts");
        EXPECT_EQ(available(ends[0]), write_out_each_message ? "\nprocessing file ....\nerror: cannot write a.ts" : "");

        std::fclose(stream);
        EXPECT_EQ(available(ends[0]), write_out_each_message ? "" : "\nprocessing file ....\nerror: cannot write a.ts");
        ::close(ends[0]);
    }
}

}
