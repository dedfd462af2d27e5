#include "recording/files_of_the_run.h"

#include "shared/stage_report.h"

std::string_view run_file_words(RunFileRole role)
{
    switch (role) {
    case RunFileRole::recording:
        return "it is the input file";
    case RunFileRole::stream:
        return "it is the output file";
    case RunFileRole::catalogue:
        return "it is the catalogue";
    case RunFileRole::report:
        return "it is the report";
    }
    return {};
}

void FilesOfTheRun::name(RunFileRole role, const std::string& path, const FileIdentity& identity, ProgressReporter& reporter)
{
    RunFile& file = files_[static_cast<std::size_t>(role)];
    file.named = true;
    file.path = path;
    file.identity = identity;
    reporter.keep_messages_out_of(identity);
}

std::optional<RunFileRole> FilesOfTheRun::earlier_file_it_is(RunFileRole role, const FileIdentity& identity) const
{
    for (std::size_t index = 0; index < static_cast<std::size_t>(role); ++index)
        if (files_[index].named && is_same_file(identity, files_[index].identity))
            return static_cast<RunFileRole>(index);
    return std::nullopt;
}

bool FilesOfTheRun::holds(const FileIdentity& identity) const
{
    for (const RunFile& file : files_)
        if (file.named && is_same_file(identity, file.identity))
            return true;
    return false;
}
