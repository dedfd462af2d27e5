#include "archive/catalogue_watch.h"

#include "catalogue/catalogue.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

// Enough to tell another file's bytes from these: a line with its times and identifiers.
constexpr std::size_t tail_size = 256;

}

std::optional<SystemError> CatalogueWatch::catch_up(const FileIdentity& recording)
{
    File catalogue = open_regular_for_reading(path_);
    if (!catalogue.is_open()) {
        // Missing, a FIFO, a device, a folder or unreadable: it holds nothing that could be skipped,
        // and appending to it is the catalogue step's to judge.
        forget();
        return std::nullopt;
    }
    FileIdentity identity = identify(catalogue.native());
    // Before any lock: a file that is not a catalogue (the recording named as one, say) is never waited for.
    if (is_same_file(identity, recording) || !holds_a_catalogue(read_start(catalogue.native(), catalogue_start_length()))) {
        forget();
        return std::nullopt;
    }
    if (lock_shared(catalogue.native()) != LockOutcome::locked)
        return SystemError { Action::lock, path_, errno };
    // Measured under the lock: only whole lines are there.
    return read_new_bytes(catalogue.native(), identify(catalogue.native()));
}

std::optional<SystemError> CatalogueWatch::catch_up_through(NativeHandle catalogue, const FileIdentity& identity)
{
    if (!identity.regular_file) {
        forget();
        return std::nullopt;
    }
    return read_new_bytes(catalogue, identify(catalogue));
}

std::optional<SystemError> CatalogueWatch::read_new_bytes(NativeHandle catalogue, const FileIdentity& identity)
{
    if (!identity.exists)
        return SystemError { Action::read, path_, errno };
    if (!continues(catalogue, identity)) {
        forget();
        identity_ = identity;
    }
    std::array<char, 64 * 1024> piece;
    while (offset_ < identity.size) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), identity.size - offset_));
        std::int64_t got = read_at(catalogue, piece.data(), wanted, offset_);
        if (got < 0)
            return SystemError { Action::read, path_, errno };
        if (got == 0)
            break;
        std::string_view bytes(piece.data(), static_cast<std::size_t>(got));
        holdings_.feed(bytes);
        offset_ += bytes.size();
        tail_ += bytes.substr(bytes.size() - std::min(bytes.size(), tail_size));
        tail_.erase(0, tail_.size() - std::min(tail_.size(), tail_size));
    }
    return std::nullopt;
}

bool CatalogueWatch::continues(NativeHandle catalogue, const FileIdentity& identity) const
{
    if (!is_same_file(identity, identity_) || identity.size < offset_)
        return false;
    std::string before(tail_.size(), '\0');
    std::int64_t got = read_at(catalogue, before.data(), before.size(), offset_ - tail_.size());
    return got == static_cast<std::int64_t>(before.size()) && before == tail_;
}

void CatalogueWatch::forget()
{
    identity_ = {};
    offset_ = 0;
    tail_.clear();
    holdings_ = {};
}
