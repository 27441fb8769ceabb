#pragma once
// Deterministic numbers for the stand-in marketplace. Our own generator and hashes, because
// the standard distributions differ between library versions and a seed must give the same
// catalogue and the same faults everywhere.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vq::sim {

// The splitmix64 finaliser: spreads every input bit over the whole word.
constexpr std::uint64_t mix64(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// FNV-1a over the bytes, seeded, then mixed.
constexpr std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed = 0) {
    std::uint64_t h = 0xCBF29CE484222325ULL ^ mix64(seed);
    for (char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ULL;
    }
    return mix64(h);
}

// A number in [0, 1) from the top 53 bits of a word.
constexpr double unit_interval(std::uint64_t word) {
    return static_cast<double>(word >> 11) * (1.0 / 9007199254740992.0);
}

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ULL;
        return mix64(state_);
    }

    // 0 .. n-1 (0 when n is 0).
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }

    // lo .. hi, both included.
    int between(int lo, int hi) {
        return lo + static_cast<int>(below(static_cast<std::uint64_t>(hi - lo) + 1));
    }

    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }

private:
    std::uint64_t state_;
};

}  // namespace vq::sim
