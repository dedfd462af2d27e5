#include "platform/file_identity.h"

#include "platform/kernel_copy.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif


namespace {

bool same(const std::filesystem::path& first, const std::filesystem::path& second)
{
    return is_same_file(identify_path(first.string()), identify_path(second.string()));
}

TEST(FileIdentity, ExistingFileUnderOtherSpellingsAndHardLinks)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", std::string("x"));
    std::filesystem::create_hard_link(folder / "a.rec", folder / "hard.rec");
    std::filesystem::create_directory(folder / "sub");
    for (const char* name : { "a.rec", "./a.rec", "sub/../a.rec", "hard.rec" })
        EXPECT_TRUE(same(folder / "a.rec", folder / name)) << name;
    write_file(folder / "b.rec", std::string("x"));
    EXPECT_FALSE(same(folder / "a.rec", folder / "b.rec"));

    File opened = open_for_reading((folder / "hard.rec").string());
    ASSERT_TRUE(opened.is_open());
    EXPECT_TRUE(is_same_file(identify(opened.native()), identify_path((folder / "a.rec").string())));
}

// POSIX only from here: symbolic links, which Windows gives only to privileged users, and links that
// dangle or loop.
#ifndef _WIN32
TEST(FileIdentity, SymbolicLinksAreWhatTheyName)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", std::string("x"));
    std::filesystem::create_symlink("a.rec", folder / "soft.rec");
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink("../soft.rec", folder / "sub" / "chain.rec");
    for (const char* name : { "soft.rec", "sub/chain.rec" })
        EXPECT_TRUE(same(folder / "a.rec", folder / name)) << name;

    File opened = open_for_reading((folder / "a.rec").string());
    EXPECT_TRUE(is_same_file(identify(opened.native()), identify_path((folder / "soft.rec").string())));
    EXPECT_FALSE(is_same_file(identify_link((folder / "soft.rec").string()), identify(opened.native())));
}

TEST(FileIdentity, FilesNotYetCreatedAreSameWhenTheyWouldBeCreatedAtOnePlace)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink("sub", folder / "link-to-sub");
    std::filesystem::create_symlink("sub/new.ts", folder / "dangling.csv");
    std::filesystem::create_symlink("dangling.csv", folder / "dangling-chain.csv");

    EXPECT_TRUE(same(folder / "new.ts", folder / "new.ts"));
    EXPECT_TRUE(same(folder / "sub/new.ts", folder / "sub/./new.ts"));
    EXPECT_TRUE(same(folder / "sub/new.ts", folder / "link-to-sub/new.ts"));
    EXPECT_TRUE(same(folder / "sub/new.ts", folder / "dangling.csv"));
    EXPECT_TRUE(same(folder / "sub/new.ts", folder / "dangling-chain.csv"));
    EXPECT_FALSE(same(folder / "new.ts", folder / "sub/new.ts"));
    EXPECT_FALSE(same(folder / "new.ts", folder / "other.ts"));
}

TEST(FileIdentity, RelativeNamesResolveFromTheWorkingFolder)
{
    ScratchFolder folder;
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_TRUE(is_same_file(identify_path("new.ts"), identify_path((folder / "new.ts").string())));
    EXPECT_TRUE(is_same_file(identify_path("new.ts"), identify_path("./new.ts")));
    std::filesystem::current_path(previous);
}

TEST(FileIdentity, ExistingAndMissingAreNeverTheSame)
{
    ScratchFolder folder;
    write_file(folder / "a.rec", std::string("x"));
    EXPECT_FALSE(same(folder / "a.rec", folder / "missing.rec"));
    EXPECT_FALSE(same(folder / "missing/x", folder / "missing/x")) << "a folder that does not exist cannot be resolved";
    EXPECT_FALSE(is_same_file(identify_path(""), identify_path("")));
}

TEST(FileIdentity, LinkLoopsEndTheResolution)
{
    ScratchFolder folder;
    std::filesystem::create_symlink("loop-b", folder / "loop-a");
    std::filesystem::create_symlink("loop-a", folder / "loop-b");
    EXPECT_FALSE(same(folder / "loop-a", folder / "loop-b"));
}
#endif

// The platform's calls on files.

#ifndef _WIN32
// While it lives, SIGUSR1 is caught by a handler installed without SA_RESTART, so that a call blocked
// when it comes back fails with EINTR, as a terminal's signals make calls fail.
class InterruptingSignal {
public:
    InterruptingSignal()
    {
        struct sigaction action { };
        action.sa_handler = [](int) { };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }

    // Interrupts `thread` a while from now, once it is surely blocked, then does `after`.
    static std::thread later(pthread_t thread, std::function<void()> after)
    {
        return std::thread([thread, after] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ::pthread_kill(thread, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            after();
        });
    }

private:
    struct sigaction previous_ { };
};

TEST(FileCalls, InterruptedOrNotReadyCallsAreMadeAgain)
{
    InterruptingSignal signal;
    pthread_t self = ::pthread_self();
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    File reading { ends[0] };
    File writing { ends[1] };
    char byte = 0;

    // A read blocked on an empty pipe, interrupted, then given a byte.
    std::thread giver = InterruptingSignal::later(self, [&] { EXPECT_EQ(::write(ends[1], "a", 1), 1); });
    EXPECT_EQ(read_in_order(reading.native(), &byte, 1), 1);
    giver.join();

    // A write blocked on a full pipe, interrupted, then given room.
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    std::vector<char> filler(4096, 'f');
    while (::write(ends[1], filler.data(), filler.size()) > 0) { }
    ::fcntl(ends[1], F_SETFL, 0);
    std::thread drainer = InterruptingSignal::later(self, [&] { EXPECT_GT(::read(ends[0], filler.data(), filler.size()), 0); });
    EXPECT_EQ(write_some(writing.native(), "b", 1), 1);
    drainer.join();
    while (::fcntl(ends[0], F_SETFL, O_NONBLOCK) == 0 && ::read(ends[0], filler.data(), filler.size()) > 0) { }

    // A read on a pipe its maker left non-blocking waits until there is something to read.
    giver = InterruptingSignal::later(self, [&] { EXPECT_EQ(::write(ends[1], "c", 1), 1); });
    EXPECT_EQ(read_in_order(reading.native(), &byte, 1), 1);
    EXPECT_EQ(byte, 'c');
    giver.join();

#ifdef PELORUS_KERNEL_COPY
    // The kernel's move out of an empty pipe, interrupted, then given a byte.
    ScratchFolder folder;
    File output = open_for_writing((folder / "out").string());
    ::fcntl(ends[0], F_SETFL, 0);
    giver = InterruptingSignal::later(self, [&] { EXPECT_EQ(::write(ends[1], "d", 1), 1); });
    EXPECT_EQ(kernel_move(reading.native(), nullptr, output.native(), 1), 1);
    giver.join();
    EXPECT_EQ(read_file_text(folder / "out"), "d");
#endif
}

TEST(FileCalls, AFifoIsLookedAtNotOpened)
{
    // A writer waits for a reader, as a run writing its line into a FIFO catalogue does. Opening the
    // FIFO to read, even without waiting, would let it go on, and it would then find its reader gone.
    ScratchFolder folder;
    std::string fifo = (folder / "list.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> writer_went_on { false };
    std::thread writer([&] {
        int descriptor = ::open(fifo.c_str(), O_WRONLY);
        writer_went_on = true;
        if (descriptor >= 0)
            ::close(descriptor);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(open_regular_for_reading(fifo).is_open());
    EXPECT_EQ(read_file_start(fifo, 10), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(writer_went_on);
    // Lets the writer go.
    File reader { ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) };
    writer.join();
}
#endif

}
