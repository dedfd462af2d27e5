#include "archive/recording_list.h"

#include "platform/file.h"
#include "platform/file_identity.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

namespace {

constexpr std::string_view recording_ending = ".rec";

bool has_recording_ending(std::string_view name)
{
    if (name.size() < recording_ending.size())
        return false;
    std::string_view ending = name.substr(name.size() - recording_ending.size());
    return std::equal(ending.begin(), ending.end(), recording_ending.begin(),
        [](char found, char wanted) { return (found >= 'A' && found <= 'Z' ? found - 'A' + 'a' : found) == wanted; });
}

// The recordings of one input: itself, or a folder's.
void add_named(const std::string& input, std::vector<ListedRecording>& recordings)
{
    if (!identify_path(input).folder) {
        recordings.push_back({ input, {}, false, std::nullopt, {} });
        return;
    }
    std::vector<std::string> names;
    if (!list_folder(input, names)) {
        recordings.push_back({ input, {}, false, SystemError { Action::read, input, errno }, {} });
        return;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = join_path(input, name);
        if (has_recording_ending(name) && !identify_path(path).folder)
            recordings.push_back({ path, {}, true, std::nullopt, {} });
    }
}

// What tells two paths apart as files: the file itself where it exists, else the place it would be
// created at, so that two spellings, a link, or a file and its folder count once.
std::string file_key(const std::string& path)
{
    FileIdentity identity = identify_path(path);
    if (identity.exists)
        return "file " + std::to_string(identity.device) + ":" + std::to_string(identity.index);
    if (!identity.resolved_path.empty())
        return "place " + identity.resolved_path;
    return "path " + path;
}

}

std::vector<ListedRecording> list_recordings(const std::vector<std::string>& inputs, const std::string* output_folder,
    bool claim_outputs)
{
    std::vector<ListedRecording> named;
    for (const std::string& input : inputs)
        add_named(input, named);

    std::set<std::string> seen;
    std::map<std::string, std::string> claims;
    std::vector<ListedRecording> recordings;
    for (ListedRecording& recording : named) {
        if (!seen.insert(file_key(recording.path)).second)
            continue;
        if (!recording.unreadable_folder) {
            recording.output_path = transport_stream_path(recording.path, output_folder);
            if (claim_outputs) {
                auto [claim, first] = claims.emplace(file_key(recording.output_path), recording.path);
                if (!first)
                    recording.output_claimed_by = claim->second;
            }
        }
        recordings.push_back(std::move(recording));
    }
    return recordings;
}

std::string transport_stream_name(std::string_view recording_name)
{
    if (has_recording_ending(recording_name))
        recording_name.remove_suffix(recording_ending.size());
    return std::string(recording_name) + ".ts";
}

std::string transport_stream_path(const std::string& recording_path, const std::string* output_folder)
{
    if (output_folder)
        return join_path(*output_folder, transport_stream_name(split_path(recording_path).name));
    return transport_stream_name(recording_path);
}
