// A vector that grows by whole chunks and never moves what it holds: a
// table of millions of entries grows without the copy (and the second
// table in memory while it is made) of a std::vector that outgrows its
// capacity, and wastes at most one chunk.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

template <typename T, std::size_t ChunkBits = 12>
class ChunkedVector {
public:
    static constexpr std::size_t kChunk = std::size_t{1} << ChunkBits;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return chunks_[i >> ChunkBits][i & (kChunk - 1)]; }
    const T& operator[](std::size_t i) const { return chunks_[i >> ChunkBits][i & (kChunk - 1)]; }
    T& back() { return (*this)[size_ - 1]; }

    void push_back(const T& value) {
        if ((size_ & (kChunk - 1)) == 0 && (size_ >> ChunkBits) == chunks_.size())
            chunks_.push_back(std::make_unique<T[]>(kChunk));
        (*this)[size_++] = value;
    }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
};
