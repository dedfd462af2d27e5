// Telling whether two paths or handles name the same file, so that a run never writes into the file it reads.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <string>

struct FileIdentity {
    bool exists = false;
    bool missing = false;  // surely absent: nothing of that name, or a folder on the way that is not there
    std::uint64_t device = 0;  // the device number, or on Windows the volume serial number
    std::uint64_t index = 0;   // the inode, or on Windows the file index
    bool regular_file = false;
    bool folder = false;
    bool character_device = false;  // a terminal, a console, /dev/null or NUL
    bool pipe = false;
    // As they were when the identity was taken; not part of what makes two files the same.
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;  // the inode's change time, or on Windows the change time the system keeps
    // For a file that does not exist yet: where creating it would put it, every link resolved.
    std::string resolved_path;
};

// Follows symbolic links, dangling ones included, so that a link names what it would create.
FileIdentity identify_path(const std::string& path);
// The same for a file that exists; for one that does not, where it would be created is not worked out.
FileIdentity identify_existing(const std::string& path);
FileIdentity identify(NativeHandle file);
// The path's own entry: a symbolic link is identified as the link, not as what it names.
FileIdentity identify_link(const std::string& path);

// Existing files are the same when device and index match, which catches other spellings, hard links
// and symbolic links; two files that do not exist yet are the same when they would be created at the
// same place.
bool is_same_file(const FileIdentity& first, const FileIdentity& second);

// Whether a file was written or changed between two looks at it: another size, modification time or
// change time.
bool changed_between(const FileIdentity& before, const FileIdentity& after);
