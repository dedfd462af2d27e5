// The recordings a batch names, in its order, each with the .ts file it writes.
#pragma once

#include "shared/stage_report.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ListedRecording {
    std::string path;
    std::string output_path;  // its .ts file
    // Found in a folder rather than named: if it has gone by its turn, another run converted it.
    bool from_folder = false;
    // A folder named that could not be listed, in place of its recordings.
    std::optional<SystemError> unreadable_folder;
    // An earlier recording of the batch whose .ts file is this one's too; empty when there is none.
    std::string output_claimed_by;
};

struct RecordingList {
    std::vector<ListedRecording> recordings;
    // The folders found in a named folder, which are not searched.
    std::vector<std::string> folders_passed_over;
};

// The recordings the inputs name, in order: a folder gives its entries that end in ".rec", in any case,
// in the byte order of their names. It is not searched further down: its own folders are named in the
// list. Names that begin with "." (as the shell's * leaves them out, and as another system's copies
// leave "._news.rec" beside each file) and "lost+found" are passed over without a word. The same file
// named twice counts once, where it first appears. Each .ts file goes into `output_folder` when there
// is one, else beside its recording; with `claim_outputs`, a .ts file is claimed by the first recording
// that writes it, judged before anything is written.
RecordingList list_recordings(const std::vector<std::string>& inputs, const std::string* output_folder, bool claim_outputs);

// A recording's .ts name: a final ".rec", in any case, replaced by ".ts", or ".ts" added, to the name
// as the file system keeps it (on Windows without trailing dots and spaces).
std::string transport_stream_name(std::string_view recording_name);

// Where a recording's .ts file goes: into `output_folder` when there is one, else beside the recording.
// Its name follows `held_name`, the name the file system holds for the recording, where that is known
// and can differ from the path's (a short name on Windows).
std::string transport_stream_path(const std::string& recording_path, const std::string* output_folder, const std::string& held_name = {});
