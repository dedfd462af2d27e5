#include "archive/recording_list.h"

#include "platform/file.h"
#include "platform/file_identity.h"
#include "shared/number_text.h"

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

// What a folder holds that is nobody's recording: hidden names, and the file system's own folder.
bool passed_over_silently(std::string_view name)
{
    return name.starts_with('.') || name == "lost+found";
}

// The recordings of one input: itself, or a folder's.
void add_named(const std::string& input, RecordingList& list)
{
    std::vector<ListedRecording>& recordings = list.recordings;
    if (!identify_path(input).folder) {
        recordings.push_back({ input, {}, false, std::nullopt, {} });
        return;
    }
    Expected<std::vector<FolderEntry>, int> listed = list_folder(input);
    if (!listed) {
        recordings.push_back({ input, {}, false, SystemError { Action::read, input, listed.error() }, {} });
        return;
    }
    std::vector<FolderEntry>& entries = *listed;
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& first, const FolderEntry& second) { return first.name < second.name; });
    for (const FolderEntry& entry : entries) {
        if (passed_over_silently(entry.name))
            continue;
        std::string path = join_path(input, entry.name);
        if (entry.folder)
            list.folders_passed_over.push_back(path);
        else if (has_recording_ending(entry.name))
            recordings.push_back({ path, {}, true, std::nullopt, {} });
    }
}

std::string file_key(const FileIdentity& identity)
{
    return "file " + number_text(identity.device) + ":" + number_text(identity.index);
}

// What tells two paths apart as files: the file itself where it exists, else its name in the folder it
// would be created in, so that two spellings, a link, or a file and its folder count once. Folders
// are looked at once each.
class FileKeys {
public:
    std::string of(const std::string& path)
    {
        FileIdentity identity = identify_existing(path);
        if (identity.exists)
            return file_key(identity);
        PathParts parts = split_path(path);
        auto [folder, added] = folders_.try_emplace(parts.folder);
        if (added) {
            FileIdentity folder_identity = identify_existing(parts.folder);
            folder->second = folder_identity.exists ? file_key(folder_identity) : "path " + parts.folder;
        }
        return "place " + folder->second + "/" + file_name_key(parts.name);
    }

private:
    std::map<std::string, std::string> folders_;
};

}

RecordingList list_recordings(const std::vector<std::string>& inputs, const std::string* output_folder, bool claim_outputs)
{
    RecordingList named;
    for (const std::string& input : inputs)
        add_named(input, named);

    std::set<std::string> seen;
    std::map<std::string, std::string> claims;
    std::vector<ListedRecording> recordings;
    FileKeys keys;
    for (ListedRecording& recording : named.recordings) {
        if (!seen.insert(keys.of(recording.path)).second)
            continue;
        if (!recording.unreadable_folder) {
            recording.output_path = transport_stream_path(recording.path, output_folder, name_held_for(recording.path));
            if (claim_outputs) {
                auto [claim, first] = claims.emplace(keys.of(recording.output_path), recording.path);
                if (!first)
                    recording.output_claimed_by = claim->second;
            }
        }
        recordings.push_back(std::move(recording));
    }
    return { std::move(recordings), std::move(named.folders_passed_over) };
}

std::string transport_stream_name(std::string_view recording_name)
{
    recording_name = name_as_kept(recording_name);
    if (has_recording_ending(recording_name))
        recording_name.remove_suffix(recording_ending.size());
    return std::string(recording_name) + ".ts";
}

std::string transport_stream_path(const std::string& recording_path, const std::string* output_folder, const std::string& held_name)
{
    if (output_folder)
        return join_path(*output_folder, transport_stream_name(held_name.empty() ? split_path(recording_path).name : held_name));
    if (held_name.empty())
        return transport_stream_name(recording_path);
    // Beside the recording, under the name its file system holds.
    std::size_t separator = recording_path.size();
    while (separator > 0 && !is_path_separator(recording_path[separator - 1]))
        --separator;
    return recording_path.substr(0, separator) + transport_stream_name(held_name);
}
