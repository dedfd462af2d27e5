// Telling whether two paths name the same file, so that a run never writes into the file it reads.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool regular_file = false;
    bool character_device = false;
    // As they were when the identity was taken; not part of what makes two files the same.
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    // For a file that does not exist yet: where creating it would put it, every link resolved.
    std::string resolved_path;
};

// Follows symbolic links, dangling ones included, so that a link names what it would create.
FileIdentity identify_path(const std::string& path);
FileIdentity identify_descriptor(int descriptor);
// The path's own entry: a symbolic link is identified as the link, not as what it names.
FileIdentity identify_link(const std::string& path);

// Existing files are the same when device and inode match, which catches other spellings, hard links
// and symbolic links; two files that do not exist yet are the same when they would be created at the
// same place.
bool is_same_file(const FileIdentity& first, const FileIdentity& second);
