#include "archive/catalogue_watch.h"

#include "catalogue/catalogue.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace {

// A file's times are kept to some step: a tick of the kernel's clock, two seconds on FAT, and a
// server's clock that may run apart from this one. A write within that step of a look may leave the
// size and both times as the look saw them; one made later may not. Two seconds cover them all.
constexpr std::int64_t time_step_ns = 2'000'000'000;

constexpr std::size_t piece_size = 256 * 1024;

}

Expected<void, SystemError> CatalogueWatch::catch_up(const FileIdentity& recording, Look look)
{
    // What nothing can have changed since the last look is not opened at all.
    FileIdentity now = identify_existing(path_);
    if (unchanged_since_last_look(now, look)) {
        exact_ = settled_;
        return {};
    }
    File catalogue = open_regular_for_reading(path_);
    if (!catalogue.is_open()) {
        // Missing, a FIFO, a device, a folder or unreadable: it holds nothing that could be skipped,
        // and appending to it is the catalogue step's to judge.
        forget();
        return {};
    }
    FileIdentity identity = identify(catalogue.native());
    // Before any lock: a file that is not a catalogue (the recording named as one, say) is never waited for.
    if (is_same_file(identity, recording) || !holds_a_catalogue(read_start(catalogue.native(), catalogue_start_length()))) {
        forget();
        return {};
    }
    if (lock_shared(catalogue.native()) != LockOutcome::locked)
        return Unexpected { SystemError { Action::lock, path_, errno } };
    // Measured under the lock: only whole lines are there.
    return read_new_bytes(catalogue.native(), identify(catalogue.native()), look);
}

Expected<void, SystemError> CatalogueWatch::catch_up_through(NativeHandle catalogue, const FileIdentity& identity)
{
    if (!identity.regular_file) {
        forget();
        return {};
    }
    return read_new_bytes(catalogue, identity, Look::exact);
}

// The file holds what was read before, and more, exactly when its first bytes are still those, however
// it was written meanwhile (appended to, emptied by -a and written again, edited in place); they are
// compared by their hash. An exact look spares the comparison only when nothing can have been written
// since the last look: the same file, size and times, taken when those times were already older than
// the step they are kept to, so that any later write would have moved them.
Expected<void, SystemError> CatalogueWatch::read_new_bytes(NativeHandle catalogue, const FileIdentity& identity, Look look)
{
    if (!identity.exists)
        return Unexpected { SystemError { Action::read, path_, errno } };
    bool same_file = is_same_file(identity, seen_) && identity.size >= offset_;
    bool unchanged = unchanged_since_last_look(identity, look);
    // Trusted without a comparison, a look is exact only if the last one was, and settled.
    bool exact = !unchanged || settled_;
    if (same_file && !unchanged) {
        Expected<bool, int> holds = still_holds_what_was_read(catalogue);
        if (!holds)
            return Unexpected { SystemError { Action::read, path_, holds.error() } };
        same_file = *holds;
    }
    if (!same_file)
        forget();
    TRY(read_from_offset(catalogue, identity.size));
    seen_ = identity;
    exact_ = exact;
    // Only what is known exactly can be trusted later on its times alone.
    settled_ = exact && file_clock_now_ns() - std::max(identity.modified_ns, identity.changed_ns) > time_step_ns;
    return {};
}

bool CatalogueWatch::unchanged_since_last_look(const FileIdentity& identity, Look look) const
{
    return identity.regular_file && is_same_file(identity, seen_) && !changed_between(seen_, identity) && (settled_ || look == Look::quick);
}

Expected<void, SystemError> CatalogueWatch::read_from_offset(NativeHandle catalogue, std::uint64_t size)
{
    std::vector<char>& piece = piece_for_reading();
    while (offset_ < size) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - offset_));
        std::int64_t got = read_at(catalogue, piece.data(), wanted, offset_);
        if (got < 0)
            return Unexpected { SystemError { Action::read, path_, errno } };
        if (got == 0)
            break;
        std::string_view bytes(piece.data(), static_cast<std::size_t>(got));
        holdings_.feed(bytes);
        read_.feed(bytes);
        offset_ += bytes.size();
    }
    return {};
}

Expected<bool, int> CatalogueWatch::still_holds_what_was_read(NativeHandle catalogue)
{
    ++verifications_;
    ContentHash now;
    std::vector<char>& piece = piece_for_reading();
    while (now.length() < offset_) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), offset_ - now.length()));
        std::int64_t got = read_at(catalogue, piece.data(), wanted, now.length());
        if (got < 0)
            return Unexpected { errno };
        if (got == 0)
            break;
        now.feed(std::string_view(piece.data(), static_cast<std::size_t>(got)));
    }
    return now.length() == offset_ && now.value() == read_.value();
}

void CatalogueWatch::appended(std::string_view bytes, const FileIdentity& after)
{
    if (!exact_ || !is_same_file(after, seen_) || after.size != offset_ + bytes.size()) {
        forget();
        return;
    }
    holdings_.feed(bytes);
    read_.feed(bytes);
    offset_ = after.size;
    seen_ = after;
    settled_ = false;
}

std::vector<char>& CatalogueWatch::piece_for_reading()
{
    if (piece_.empty())
        piece_.resize(piece_size);
    return piece_;
}

void CatalogueWatch::forget()
{
    seen_ = {};
    settled_ = false;
    exact_ = false;
    offset_ = 0;
    read_ = {};
    holdings_ = {};
}
