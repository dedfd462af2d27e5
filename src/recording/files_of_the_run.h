// The files one run reads and writes, each in its role: no file may be two of them, and no message may
// go into any of them.
#pragma once

#include "platform/file_identity.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

class ProgressReporter;

// Each file a run may have, in the order each is judged against those before it: the .ts file must not
// be the recording, the catalogue neither of those two, the report none of the three.
enum class RunFileRole {
    recording,
    stream,
    catalogue,
    report,
};

inline constexpr std::size_t run_file_roles = 4;

// How a refusal names the file another one turned out to be: "it is the input file".
std::string_view run_file_words(RunFileRole role);

struct RunFile {
    bool named = false;  // the run has this file: no .ts with -t, no report without -j
    std::string path;
    FileIdentity identity;  // by its path before it is opened; through its handle once it is
};

class FilesOfTheRun {
public:
    // Names a file of the run, by its path or, once it is open, by its handle; the messages are kept
    // out of it from here on.
    void name(RunFileRole role, const std::string& path, const FileIdentity& identity, ProgressReporter& reporter);

    // The file of the run before `role` that `identity` is, if it is one.
    std::optional<RunFileRole> earlier_file_it_is(RunFileRole role, const FileIdentity& identity) const;

    // Whether `identity` is any file of the run.
    bool holds(const FileIdentity& identity) const;

    const RunFile& operator[](RunFileRole role) const { return files_[static_cast<std::size_t>(role)]; }

private:
    std::array<RunFile, run_file_roles> files_ {};
};
