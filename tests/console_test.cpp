#include "platform/console.h"

#include "platform/file.h"
#include "platform/file_identity.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A file the console writes to, read back through the same handle.
struct Destination {
    ScratchFolder folder;
    File file;

    explicit Destination(const std::string& name = "messages")
    {
        bool created = false;
        file = open_for_appending((folder / name).string(), created);
    }

    std::string written() const { return read_start(file.native(), identify(file.native()).size); }
};

TEST(Console, WritesEachMessageOutAtOnceOnlyWhenAskedTo)
{
    for (bool write_out_each_message : { true, false }) {
        Destination destination;
        Console console(destination.file.native(), write_out_each_message);
        console.print("\nprocessing file ...");
        console.print(".");
        console.print("\nerror: cannot write ", "a.ts");
        EXPECT_EQ(destination.written(), write_out_each_message ? "\nprocessing file ....\nerror: cannot write a.ts" : "");
        EXPECT_TRUE(console.flush());
        EXPECT_EQ(destination.written(), "\nprocessing file ....\nerror: cannot write a.ts");
    }
}

TEST(Console, RedirectTakesTheMessagesNotYetWritten)
{
    Destination first;
    Destination second;
    Console console(first.file.native(), false);
    console.print("\nReading ", "a.rec");
    console.redirect(second.file.native(), false);
    console.print("\nall done");
    EXPECT_TRUE(console.flush());
    EXPECT_EQ(first.written(), "");
    EXPECT_EQ(second.written(), "\nReading a.rec\nall done");
}

TEST(Console, FailedWriteIsReportedByFlush)
{
    // A file opened only for reading refuses every write.
    Destination destination;
    File read_only = open_for_reading((destination.folder / "messages").string());
    Console console(read_only.native(), false);
    console.print("\nall done");
    EXPECT_FALSE(console.flush());
    EXPECT_NE(console.error_number(), 0);
    EXPECT_EQ(destination.written(), "");
}

}
