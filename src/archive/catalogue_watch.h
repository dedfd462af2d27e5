// What a batch knows of its catalogue, brought up to date as other runs append to it, and never trusted
// once the file may have been written otherwise.
#pragma once

#include "catalogue/catalogue_holdings.h"
#include "platform/file.h"
#include "platform/file_identity.h"
#include "shared/content_hash.h"
#include "shared/expected.h"
#include "shared/stage_report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How far a look trusts what it read before.
enum class Look {
    // Enough to decide to go on: a file whose device, index, size and times are what the last look left
    // is taken as unchanged. A write within the step the times are kept to can go unseen.
    quick,
    // Enough to skip, append or delete: those must also have been older than that step when they were
    // taken, or every byte read before is compared again.
    exact,
};

class CatalogueWatch {
public:
    explicit CatalogueWatch(std::string path) : path_(std::move(path)) { }

    // Reads, under a shared lock, what was appended since the last look: only the new bytes while the
    // file is the same one (device and index) and every byte read before is still there, else all of
    // it again (another run's -a, an editor that saved a new file). Never waits on a FIFO: anything but
    // a regular catalogue holds nothing, and so does the recording being converted, whose lock this run
    // holds. Fails when the lock cannot be had or the file cannot be read.
    Expected<void, SystemError> catch_up(const FileIdentity& recording, Look look = Look::exact);

    // The same through the catalogue's own handle, under the exclusive lock its caller holds, exactly:
    // the last look before a line is appended, or a recording deleted. `identity` is the file as
    // measured under that lock.
    Expected<void, SystemError> catch_up_through(NativeHandle catalogue, const FileIdentity& identity);

    // This run appended `bytes` under the exclusive lock, right after an exact look through the same
    // handle, and the file was then `after`: they are read as if looked at, so that the next quick look
    // finds nothing new. Anything else makes the next look start over.
    void appended(std::string_view bytes, const FileIdentity& after);

    bool holds(const RecordingKey& key) const { return holdings_.holds(key); }
    // Whether the last look was exact.
    bool exact() const { return exact_; }

    // How many times the bytes read before were read again to be verified: for the benchmarks and tests.
    std::uint64_t verifications() const { return verifications_; }

private:
    Expected<void, SystemError> read_new_bytes(NativeHandle catalogue, const FileIdentity& identity, Look look);
    Expected<void, SystemError> read_from_offset(NativeHandle catalogue, std::uint64_t size);
    // Whether the file still begins with every byte read before; an error number when it cannot be read.
    Expected<bool, int> still_holds_what_was_read(NativeHandle catalogue);
    bool unchanged_since_last_look(const FileIdentity& identity, Look look) const;
    std::vector<char>& piece_for_reading();
    void forget();

    std::string path_;
    FileIdentity seen_;         // the file at the last look: which file, its size, its times
    bool settled_ = false;      // its times then were old enough that any later write shows in them
    bool exact_ = false;
    std::uint64_t offset_ = 0;  // the bytes read so far
    ContentHash read_;          // of those bytes
    CatalogueHoldings holdings_;
    std::uint64_t verifications_ = 0;
    std::vector<char> piece_;  // read into, kept from one look to the next
};
