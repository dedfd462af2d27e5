// A 128-bit hash of a run of bytes fed in pieces of any size, to tell cheaply whether bytes read once
// are still the same without keeping them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Two lanes of four accumulators; each 64-bit word goes into one accumulator of each lane, by its place,
// with a multiply and a rotation. A step is a bijection of its accumulator for a given word and of the
// word for a given accumulator, and the accumulators are summed, each turned by its own rotation: two
// inputs of one length that differ in one word always differ in both halves of the hash, and inputs
// that differ in more collide with odds of about 2^-128. The four accumulators of a lane are
// independent, so the processor works on them side by side.
class ContentHash {
public:
    void feed(std::string_view text)
    {
        auto bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        std::size_t size = text.size();
        length_ += size;
        if (held_ > 0) {
            std::size_t taken = std::min(size, block_.size() - held_);
            std::copy_n(bytes, taken, block_.begin() + static_cast<std::ptrdiff_t>(held_));
            held_ += taken;
            bytes += taken;
            size -= taken;
            if (held_ < block_.size())
                return;
            step(block_.data());
            held_ = 0;
        }
        for (; size >= block_.size(); bytes += block_.size(), size -= block_.size())
            step(bytes);
        std::copy_n(bytes, size, block_.begin());
        held_ = size;
    }

    // The hash of what was fed so far; feeding can go on.
    std::array<std::uint64_t, 2> value() const
    {
        ContentHash end = *this;
        std::fill(end.block_.begin() + static_cast<std::ptrdiff_t>(end.held_), end.block_.end(), std::uint8_t { 0 });
        // The last words, zero-padded; the length tells a padded input from one that ends in zeros.
        for (std::size_t word = 0; word * 8 < end.held_; ++word)
            end.take(word, word_at(end.block_.data() + word * 8));
        std::uint64_t first = end.length_ * prime_1;
        std::uint64_t second = end.length_ * prime_3;
        for (std::size_t word = 0; word < words; ++word) {
            first += rotated(end.first_[word], rotations[word]);
            second += rotated(end.second_[word], rotations[word]);
        }
        return { mixed(first), mixed(second) };
    }

    std::uint64_t length() const { return length_; }

private:
    static constexpr std::size_t words = 4;
    static constexpr std::uint64_t prime_1 = 0x9E3779B185EBCA87u;
    static constexpr std::uint64_t prime_2 = 0xC2B2AE3D27D4EB4Fu;
    static constexpr std::uint64_t prime_3 = 0x165667B19E3779F9u;
    static constexpr std::uint64_t prime_4 = 0xD6E8FEB86659FD93u;
    static constexpr std::array<int, words> rotations { 1, 7, 12, 18 };

    static constexpr std::uint64_t rotated(std::uint64_t value, int bits) { return value << bits | value >> (64 - bits); }

    static constexpr std::uint64_t mixed(std::uint64_t value)
    {
        value ^= value >> 33;
        value *= prime_2;
        value ^= value >> 29;
        value *= prime_3;
        return value ^ value >> 32;
    }

    // Little-endian, on every system.
    static std::uint64_t word_at(const std::uint8_t* bytes)
    {
        std::uint64_t word = 0;
        for (std::size_t index = 8; index-- > 0;)
            word = word << 8 | bytes[index];
        return word;
    }

    void take(std::size_t place, std::uint64_t word)
    {
        first_[place] = rotated(first_[place] + word * prime_2, 31) * prime_1;
        second_[place] = rotated(second_[place] ^ word * prime_4, 27) * prime_3;
    }

    void step(const std::uint8_t* block)
    {
        for (std::size_t word = 0; word < words; ++word)
            take(word, word_at(block + word * 8));
    }

    std::array<std::uint64_t, words> first_ { prime_1 + prime_2, prime_2, 0, prime_1 };
    std::array<std::uint64_t, words> second_ { prime_3, prime_4, prime_3 + prime_4, 0 - prime_3 };
    std::array<std::uint8_t, words * 8> block_ {};
    std::size_t held_ = 0;
    std::uint64_t length_ = 0;
};
