#include "platform/console.h"

#include "cli/message_routing.h"
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
        file = open_for_appending((folder / name).string()).file;
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

TEST(MessageRouting, NeverWritesIntoAFileOfTheRun)
{
    // Standard output and standard error as two files, either or both of them a file of the run (the
    // .ts file, say, and the catalogue).
    struct Case {
        const char* name;
        bool output_is_of_the_run;
        bool error_is_of_the_run;
        bool error_named_first;  // -o /dev/stderr -c /dev/stdout: the .ts file is named before the catalogue
        std::string on_output;
        std::string on_error;
    };
    for (const Case& routing_case : { Case { "neither", false, false, false, "\nall done", "" },
             Case { "output", true, false, false, "", "\nall done" },
             Case { "error", false, true, false, "\nall done", "" },
             Case { "both", true, true, false, "", "" },
             Case { "both, error named first", true, true, true, "", "" } }) {
        Destination output("output");
        Destination error("error");
        Console console(output.file.native(), false);
        MessageRouting routing(console, output.file.native(), error.file.native(), false);
        if (routing_case.error_is_of_the_run && routing_case.error_named_first)
            routing.keep_out_of(identify(error.file.native()));
        if (routing_case.output_is_of_the_run)
            routing.keep_out_of(identify(output.file.native()));
        if (routing_case.error_is_of_the_run && !routing_case.error_named_first)
            routing.keep_out_of(identify(error.file.native()));
        routing.keep_out_of(identify_path((output.folder / "recording").string()));
        console.print("\nall done");
        EXPECT_TRUE(console.flush());
        routing.report_elsewhere("!");
        EXPECT_EQ(output.written(), routing_case.on_output) << routing_case.name;
        EXPECT_EQ(error.written(), routing_case.on_error + (routing_case.error_is_of_the_run ? "" : "!")) << routing_case.name;
    }
}

}
