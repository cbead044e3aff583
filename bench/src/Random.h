// A small deterministic random source (SplitMix64): the same seed gives the
// same files and packages on every machine and with every standard library,
// which std::mt19937 with std::uniform_int_distribution would not promise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number in [0, n); the modulo bias is far below what matters here.
    std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
    // A number in [low, high].
    int Between(int low, int high) { return low + static_cast<int>(Below(static_cast<std::uint64_t>(high - low + 1))); }
    bool Percent(int chance) { return static_cast<int>(Below(100)) < chance; }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

private:
    std::uint64_t state_;
};

}  // namespace bench
