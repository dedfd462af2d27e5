// What a batch knows of its catalogue, brought up to date as other runs append to it.
#pragma once

#include "catalogue/catalogue_holdings.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "shared/stage_report.h"

#include <cstdint>
#include <optional>
#include <string>

class CatalogueWatch {
public:
    explicit CatalogueWatch(std::string path) : path_(std::move(path)) { }

    // Reads, under a shared lock, what was appended since the last look: only the new bytes while the
    // file is the same one (device and index) and the bytes just before them are unchanged, else all of
    // it again (another run's -a, an editor that saved a new file). Never waits on a FIFO: anything but
    // a regular catalogue holds nothing, and so does the recording being converted, whose lock this run
    // holds. Fails when the lock cannot be had or the file cannot be read.
    [[nodiscard]] std::optional<SystemError> catch_up(const FileIdentity& recording);

    // The same through the catalogue's own handle, under the exclusive lock its caller holds: the last
    // look before a line is appended.
    [[nodiscard]] std::optional<SystemError> catch_up_through(NativeHandle catalogue, const FileIdentity& identity);

    bool holds(const RecordingKey& key) const { return holdings_.holds(key); }

private:
    [[nodiscard]] std::optional<SystemError> read_new_bytes(NativeHandle catalogue, const FileIdentity& identity);
    bool continues(NativeHandle catalogue, const FileIdentity& identity) const;
    void forget();

    std::string path_;
    FileIdentity identity_;
    std::uint64_t offset_ = 0;  // the bytes read so far
    std::string tail_;          // the last of them, to tell that they are unchanged
    CatalogueHoldings holdings_;
};
