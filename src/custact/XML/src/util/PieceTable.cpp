#include "custact/XML/src/util/PieceTable.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

void PieceTable::Reset(std::string original) {
    original_ = std::move(original);
    added_.clear();
    pieces_.clear();
    byFirst_.clear();
    graves_.clear();
    erasures_.clear();
    root_ = -1;
    // Positions are signed 32-bit offsets (the caller refuses larger files).
    size_ = static_cast<std::int32_t>(original_.size());
    if (size_ > 0) root_ = NewPiece(0, size_);
    version_ = 0;
    cacheVersion_ = ~std::uint64_t{0};
}

const char* PieceTable::BytesOf(const Piece& piece) const {
    if (piece.first < EndId()) return original_.data() + piece.first;
    return added_.data() + (piece.first - EndId() - 1);
}

std::int32_t PieceTable::NewPiece(ByteId first, std::int32_t length) {
    // xorshift: the treap's priorities need no more than that.
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    pieces_.push_back({first, length, seed_, -1, -1, -1, length});
    const auto t = static_cast<std::int32_t>(pieces_.size() - 1);
    byFirst_[first] = t;
    return t;
}

void PieceTable::Update(std::int32_t t) {
    Piece& p = pieces_[static_cast<std::size_t>(t)];
    p.total = p.length + Total(p.left) + Total(p.right);
    if (p.left >= 0) pieces_[static_cast<std::size_t>(p.left)].parent = t;
    if (p.right >= 0) pieces_[static_cast<std::size_t>(p.right)].parent = t;
}

void PieceTable::Split(std::int32_t t, std::int64_t k, std::int32_t& left, std::int32_t& right) {
    if (t < 0) {
        left = right = -1;
        return;
    }
    const std::int64_t before = Total(pieces_[static_cast<std::size_t>(t)].left);
    const std::int32_t length = pieces_[static_cast<std::size_t>(t)].length;
    if (k <= before) {
        std::int32_t inner = -1;
        Split(pieces_[static_cast<std::size_t>(t)].left, k, left, inner);
        pieces_[static_cast<std::size_t>(t)].left = inner;
        Update(t);
        right = t;
    } else if (k >= before + length) {
        std::int32_t inner = -1;
        Split(pieces_[static_cast<std::size_t>(t)].right, k - before - length, inner, right);
        pieces_[static_cast<std::size_t>(t)].right = inner;
        Update(t);
        left = t;
    } else {
        // The cut falls inside this piece: its tail becomes a piece of its own.
        const auto cut = static_cast<std::int32_t>(k - before);
        const std::int32_t tail = NewPiece(pieces_[static_cast<std::size_t>(t)].first + cut, length - cut);
        Piece& p = pieces_[static_cast<std::size_t>(t)];
        p.length = cut;
        const std::int32_t rightSubtree = p.right;
        p.right = -1;
        Update(t);
        left = t;
        right = Merge(tail, rightSubtree);
    }
}

std::int32_t PieceTable::Merge(std::int32_t a, std::int32_t b) {
    if (a < 0) return b;
    if (b < 0) return a;
    if (pieces_[static_cast<std::size_t>(a)].priority > pieces_[static_cast<std::size_t>(b)].priority) {
        const std::int32_t merged = Merge(pieces_[static_cast<std::size_t>(a)].right, b);
        pieces_[static_cast<std::size_t>(a)].right = merged;
        Update(a);
        return a;
    }
    const std::int32_t merged = Merge(a, pieces_[static_cast<std::size_t>(b)].left);
    pieces_[static_cast<std::size_t>(b)].left = merged;
    Update(b);
    return b;
}

std::int32_t PieceTable::Locate(std::int32_t pos, std::int64_t* pieceStart) const {
    std::int32_t t = root_;
    std::int64_t start = 0;
    std::int64_t k = pos;
    while (t >= 0) {
        const Piece& p = pieces_[static_cast<std::size_t>(t)];
        const std::int64_t before = Total(p.left);
        if (k < before) {
            t = p.left;
        } else if (k < before + p.length) {
            *pieceStart = start + before;
            return t;
        } else {
            k -= before + p.length;
            start += before + p.length;
            t = p.right;
        }
    }
    throw std::out_of_range("invalid string position");
}

std::int64_t PieceTable::PositionOf(std::int32_t t) const {
    std::int64_t position = Total(pieces_[static_cast<std::size_t>(t)].left);
    for (std::int32_t child = t, up = pieces_[static_cast<std::size_t>(t)].parent; up >= 0;
         child = up, up = pieces_[static_cast<std::size_t>(up)].parent) {
        const Piece& p = pieces_[static_cast<std::size_t>(up)];
        if (p.right == child) position += Total(p.left) + p.length;
    }
    return position;
}

PieceTable::ByteId PieceTable::IdAt(std::int32_t pos) const {
    std::int64_t start = 0;
    const std::int32_t t = Locate(pos, &start);
    return pieces_[static_cast<std::size_t>(t)].first + (pos - start);
}

void PieceTable::Cache(std::int32_t pos) const {
    std::int64_t start = 0;
    const std::int32_t t = Locate(pos, &start);
    const Piece& p = pieces_[static_cast<std::size_t>(t)];
    cacheStart_ = static_cast<std::int32_t>(start);
    cacheEnd_ = static_cast<std::int32_t>(start + p.length);
    cacheBytes_ = BytesOf(p);
    cacheVersion_ = version_;
}

void PieceTable::Erase(std::int32_t start, std::int32_t end) {
    const Erasure erasure{IdAt(start), IdAt(end - 1), start == 0 ? kStart : IdAt(start - 1),
                          end == size_ ? EndId() : IdAt(end)};
    std::int32_t left = -1, middle = -1, right = -1, rest = -1;
    Split(root_, start, left, rest);
    Split(rest, end - start, middle, right);
    const auto index = static_cast<std::int32_t>(erasures_.size());
    erasures_.push_back(erasure);
    // Every piece of the erased range goes to the graves, in no particular order.
    std::vector<std::int32_t> pending{middle};
    while (!pending.empty()) {
        const std::int32_t t = pending.back();
        pending.pop_back();
        if (t < 0) continue;
        const Piece& p = pieces_[static_cast<std::size_t>(t)];
        byFirst_.erase(p.first);
        graves_[p.first] = {p.first + p.length, index};
        pending.push_back(p.left);
        pending.push_back(p.right);
    }
    root_ = Merge(left, right);
    if (root_ >= 0) pieces_[static_cast<std::size_t>(root_)].parent = -1;
    size_ -= end - start;
    ++version_;
}

void PieceTable::Insert(std::int32_t at, std::string_view bytes) {
    if (bytes.empty()) return;
    // Detect and prevent integer overflow: positions are 32-bit.
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - size_))
        throw std::length_error("the file would grow past 2 GiB");
    const auto length = static_cast<std::int32_t>(bytes.size());
    const ByteId first = EndId() + 1 + static_cast<ByteId>(added_.size());
    added_.append(bytes.data(), bytes.size());
    std::int64_t start = 0;
    const std::int32_t previous = at > 0 ? Locate(at - 1, &start) : -1;
    if (previous >= 0 && start + pieces_[static_cast<std::size_t>(previous)].length == at &&
        pieces_[static_cast<std::size_t>(previous)].first + pieces_[static_cast<std::size_t>(previous)].length ==
            first) {
        // Right after the bytes inserted last: that piece grows.
        pieces_[static_cast<std::size_t>(previous)].length += length;
        for (std::int32_t t = previous; t >= 0; t = pieces_[static_cast<std::size_t>(t)].parent)
            pieces_[static_cast<std::size_t>(t)].total += length;
    } else {
        std::int32_t left = -1, right = -1;
        Split(root_, at, left, right);
        root_ = Merge(Merge(left, NewPiece(first, length)), right);
        pieces_[static_cast<std::size_t>(root_)].parent = -1;
    }
    size_ += length;
    ++version_;
}

std::string PieceTable::Text() const { return Slice(0, size_); }

std::vector<std::string_view> PieceTable::Pieces() const {
    std::vector<std::string_view> out;
    // In order, without recursion: the tree is shallow, but a stack of our
    // own costs nothing.
    std::vector<std::int32_t> pending;
    for (std::int32_t t = root_; t >= 0 || !pending.empty();) {
        if (t >= 0) {
            pending.push_back(t);
            t = pieces_[static_cast<std::size_t>(t)].left;
            continue;
        }
        t = pending.back();
        pending.pop_back();
        const Piece& p = pieces_[static_cast<std::size_t>(t)];
        out.emplace_back(BytesOf(p), static_cast<std::size_t>(p.length));
        t = p.right;
    }
    return out;
}

bool PieceTable::SameAsOriginal() const {
    if (static_cast<std::size_t>(size_) != original_.size()) return false;
    std::size_t at = 0;
    for (std::string_view piece : Pieces()) {
        if (original_.compare(at, piece.size(), piece.data(), piece.size()) != 0) return false;
        at += piece.size();
    }
    return true;
}

std::string PieceTable::Slice(std::int32_t begin, std::int32_t end) const {
    std::string out;
    if (end <= begin) return out;
    out.reserve(static_cast<std::size_t>(end - begin));
    for (std::int32_t pos = begin; pos < end;) {
        std::int64_t start = 0;
        const Piece& p = pieces_[static_cast<std::size_t>(Locate(pos, &start))];
        const auto from = static_cast<std::size_t>(pos - start);
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(p.length) - from,
                                                        static_cast<std::size_t>(end - pos));
        out.append(BytesOf(p) + from, count);
        pos += static_cast<std::int32_t>(count);
    }
    return out;
}

PieceTable::Anchor PieceTable::Before(std::int32_t pos) const {
    if (pos < 0 || pos > size_) return {};
    return {pos == size_ ? EndId() : IdAt(pos), false};
}

PieceTable::Anchor PieceTable::After(std::int32_t pos) const {
    if (pos < 0 || pos > size_) return {};
    return {pos == 0 ? kStart : IdAt(pos - 1), true};
}

std::int32_t PieceTable::Resolve(const Anchor& anchor) const {
    Anchor a = anchor;
    for (;;) {
        if (a.byte == kGone) return -1;
        if (a.byte == kStart) return 0;
        if (a.byte == EndId()) return size_;
        if (version_ == 0) return static_cast<std::int32_t>(a.byte + (a.after ? 1 : 0));
        auto live = byFirst_.upper_bound(a.byte);
        if (live != byFirst_.begin()) {
            --live;
            const Piece& p = pieces_[static_cast<std::size_t>(live->second)];
            if (a.byte < p.first + p.length)
                return static_cast<std::int32_t>(PositionOf(live->second) + (a.byte - p.first) + (a.after ? 1 : 0));
        }
        // The byte was erased. A place held by the first byte of an erase
        // (or, held after, by its last) was at the erase's edge and is now
        // where the erase was; any other place went with the bytes.
        auto grave = graves_.upper_bound(a.byte);
        if (grave == graves_.begin()) return -1;
        --grave;
        if (a.byte >= grave->second.end) return -1;
        const Erasure& e = erasures_[static_cast<std::size_t>(grave->second.erasure)];
        if (!a.after && a.byte == e.first) {
            a = {e.behind, false};
        } else if (a.after && a.byte == e.last) {
            a = {e.before, true};
        } else {
            return -1;
        }
    }
}
