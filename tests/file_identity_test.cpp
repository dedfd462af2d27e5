#include "platform/file_identity.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>


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

}
