#include "platform/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
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

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    Pipe()
    {
        int ends[2];
        if (::pipe(ends) != 0)
            throw std::runtime_error("pipe");
        read_end = ends[0];
        write_end = ends[1];
        ::fcntl(read_end, F_SETFL, O_NONBLOCK);
    }
    ~Pipe()
    {
        ::close(read_end);
        if (write_end >= 0)
            ::close(write_end);
    }
};

TEST(Console, WritesEachMessageOutAtOnceOnlyWhenAskedTo)
{
    for (bool write_out_each_message : { true, false }) {
        Pipe pipe;
        Console console(pipe.write_end, write_out_each_message);
        console.print("\nprocessing file ...");
        console.print(".");
        console.print("\nerror: cannot write ", "a.ts");
        EXPECT_EQ(available(pipe.read_end), write_out_each_message ? "\nprocessing file ....\nerror: cannot write a.ts" : "");
        EXPECT_TRUE(console.flush());
        EXPECT_EQ(available(pipe.read_end), write_out_each_message ? "" : "\nprocessing file ....\nerror: cannot write a.ts");
    }
}

TEST(Console, RedirectTakesTheMessagesNotYetWritten)
{
    Pipe first;
    Pipe second;
    Console console(first.write_end, false);
    console.print("\nReading ", "a.rec");
    console.redirect(second.write_end, false);
    console.print("\nall done");
    EXPECT_TRUE(console.flush());
    EXPECT_EQ(available(first.read_end), "");
    EXPECT_EQ(available(second.read_end), "\nReading a.rec\nall done");
}

TEST(Console, FailedWriteIsReportedByFlush)
{
    Pipe pipe;
    ::close(pipe.read_end);
    pipe.read_end = ::open("/dev/null", O_RDONLY);
    // With the reader gone the write fails with EPIPE; the test runner ignores SIGPIPE for this.
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous { };
    ::sigaction(SIGPIPE, &ignore, &previous);
    Console console(pipe.write_end, false);
    console.print("\nall done");
    EXPECT_FALSE(console.flush());
    EXPECT_EQ(console.error_number(), EPIPE);
    ::sigaction(SIGPIPE, &previous, nullptr);
}

}
