// The bytes of one file as edits leave them, without ever moving the bytes
// that no edit touched. The bytes as read stay where they are; inserted
// bytes go into a buffer of their own; the text is the sequence of pieces
// of the two, held in a balanced tree (a treap) ordered by position, so
// that finding a position, erasing and inserting cost the logarithm of the
// number of edits, not the size of the file.
//
// Every byte keeps an identity while it exists, so a place in the text can
// be held across edits (an Anchor) and its position asked for later. An
// anchor follows each edit the way a stored position would be shifted by
// it: it moves with the bytes around it, and it is gone (-1) once an erase
// took the bytes on both of its sides.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class PieceTable {
public:
    // Original bytes are their offset; the end of the original text is its
    // size; inserted bytes come after that.
    using ByteId = std::int64_t;

    // A place between two bytes, held by the byte after it, or (after set)
    // by the byte before it. Text inserted exactly at the place goes after
    // a place held by the byte after it, and before one held by the byte
    // before it.
    struct Anchor {
        ByteId byte = kGone;
        bool after = false;
    };
    static constexpr ByteId kGone = -2;
    static constexpr ByteId kStart = -1;  // held "after": the start of the text

    void Reset(std::string original);

    const std::string& Original() const { return original_; }
    std::int32_t Size() const { return size_; }
    // Whether any erase or insertion has been made since Reset.
    bool Edited() const { return version_ != 0; }

    // The byte at pos, 0 <= pos < Size(). Reading neighbouring bytes costs
    // next to nothing: the piece found last is remembered.
    unsigned char ByteAt(std::int32_t pos) const {
        if (cacheVersion_ != version_ || pos < cacheStart_ || pos >= cacheEnd_) Cache(pos);
        return static_cast<unsigned char>(cacheBytes_[pos - cacheStart_]);
    }

    // 0 <= start < end <= Size().
    void Erase(std::int32_t start, std::int32_t end);
    // 0 <= at <= Size(); the result must stay below 2 GiB.
    void Insert(std::int32_t at, std::string_view bytes);

    // All bytes, or those of [begin, end), in one sweep over the pieces.
    std::string Text() const;
    std::string Slice(std::int32_t begin, std::int32_t end) const;
    // The text as the pieces hold it, in order, without copying a byte.
    std::vector<std::string_view> Pieces() const;
    // Whether the edits left exactly the original bytes.
    bool SameAsOriginal() const;

    // The place at pos, held by the byte at pos (the end of the text at
    // Size()), or by the byte before it (the start of the text at 0).
    Anchor Before(std::int32_t pos) const;
    Anchor After(std::int32_t pos) const;
    // The same for an offset into the original bytes, without a search.
    static Anchor OriginalBefore(std::int32_t offset) { return {offset < 0 ? kGone : offset, false}; }
    static Anchor OriginalAfter(std::int32_t offset) { return {offset < 0 ? kGone : offset - 1, true}; }
    // The position of the place now; -1 when it is gone.
    std::int32_t Resolve(const Anchor& anchor) const;

private:
    struct Piece {
        ByteId first;  // identity of its first byte
        std::int32_t length;
        std::uint32_t priority;
        std::int32_t left;
        std::int32_t right;
        std::int32_t parent;
        std::int64_t total;  // bytes in the subtree
    };
    // What one erase took: the identities of its first and last bytes, and
    // of the bytes on either side of it then.
    struct Erasure {
        ByteId first;
        ByteId last;
        ByteId before;
        ByteId behind;
    };
    struct Grave {
        ByteId end;
        std::int32_t erasure;
    };

    ByteId EndId() const { return static_cast<ByteId>(original_.size()); }
    const char* BytesOf(const Piece& piece) const;
    std::int64_t Total(std::int32_t t) const { return t < 0 ? 0 : pieces_[static_cast<std::size_t>(t)].total; }
    std::int32_t NewPiece(ByteId first, std::int32_t length);
    void Update(std::int32_t t);
    void Split(std::int32_t t, std::int64_t k, std::int32_t& left, std::int32_t& right);
    std::int32_t Merge(std::int32_t a, std::int32_t b);
    // The piece holding pos, and the position of its first byte.
    std::int32_t Locate(std::int32_t pos, std::int64_t* pieceStart) const;
    std::int64_t PositionOf(std::int32_t t) const;
    ByteId IdAt(std::int32_t pos) const;
    void Cache(std::int32_t pos) const;

    std::string original_;
    std::string added_;
    std::vector<Piece> pieces_;
    std::int32_t root_ = -1;
    std::int32_t size_ = 0;
    std::uint32_t seed_ = 2463534242u;
    std::uint64_t version_ = 0;
    // Live pieces by the identity of their first byte.
    std::map<ByteId, std::int32_t> byFirst_;
    // Erased ranges of identities [first, end), with the erase that took them.
    std::map<ByteId, Grave> graves_;
    std::vector<Erasure> erasures_;

    mutable std::uint64_t cacheVersion_ = ~std::uint64_t{0};
    mutable std::int32_t cacheStart_ = 0;
    mutable std::int32_t cacheEnd_ = 0;
    mutable const char* cacheBytes_ = nullptr;
};
