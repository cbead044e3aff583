// The bytes of one XML file and the edits made to them: erase a range,
// insert text (converted to the file's encoding), replace a range. The
// bytes as read are held once and never moved (PieceTable); the edited
// bytes are built in one sweep when they are asked for. Every change is
// reported to the observer at once, and a place in the bytes can be held
// across edits as an anchor.
#pragma once

#include <cstdint>
#include <string>

#include "custact/XML/src/util/PieceTable.h"
#include "installer/WideString.h"
#include "platform/os/XmlEncoding.h"

class ByteStreamObserver {
public:
    // Bytes [start, end) were removed.
    virtual void OnErase(std::int32_t start, std::int32_t end) = 0;
    // count bytes were inserted before offset at.
    virtual void OnInsert(std::int32_t at, std::int32_t count) = 0;
    virtual ~ByteStreamObserver() = default;
};

class ByteStreamUpdater {
public:
    explicit ByteStreamUpdater(ByteStreamObserver* observer = nullptr) : observer_(observer) {}

    // Reads the whole regular file, never through a link (4111, 4115, 4112),
    // and clears the modified flag.
    void LoadFile(const WideString& path);
    // Replaces the existing file with the edited bytes in one step, written
    // straight from the pieces (4115 when no temporary file can be made
    // beside it, 4116 when it cannot be written or put in place; the file
    // keeps its bytes then).
    void SaveFile(const WideString& path) const;

    // The number of bytes Insert would add for this text.
    std::int32_t ByteLength(const WideString& text) const;
    // Removes [start, end), end clamped to the size; nothing when start >= end.
    // A start outside the buffer is std::out_of_range.
    void Erase(std::int32_t start, std::int32_t end);
    // Inserts the converted text before offset at; nothing for an empty text.
    // An offset outside the buffer is std::out_of_range.
    void Insert(std::int32_t at, const WideString& text);
    void Update(std::int32_t start, std::int32_t end, const WideString& text);

    // The bytes as edited, built on the first call after an edit.
    const std::string& Bytes() const;
    // The bytes as loaded or set, whatever was edited since.
    const std::string& Original() const { return pieces_.Original(); }
    // Whether the edits, if any, left the bytes as they were loaded.
    bool SameAsOriginal() const { return pieces_.SameAsOriginal(); }
    std::int32_t Size() const { return pieces_.Size(); }
    // The bytes [begin, end) as edited.
    std::string Slice(std::int32_t begin, std::int32_t end) const { return pieces_.Slice(begin, end); }
    // Replaces the bytes without telling the observer (tests and new buffers).
    void SetBytes(std::string bytes);

    // A place in the bytes that follows the edits, as a position would be
    // moved by each of them; see PieceTable.
    using Anchor = PieceTable::Anchor;
    Anchor AnchorBefore(std::int32_t pos) const { return pieces_.Before(pos); }
    Anchor AnchorAfter(std::int32_t pos) const { return pieces_.After(pos); }
    std::int32_t Resolve(const Anchor& anchor) const { return pieces_.Resolve(anchor); }

    XmlEncoding Encoding() const { return encoding_; }
    void SetEncoding(XmlEncoding encoding) { encoding_ = encoding; }

    bool IsModified() const { return modified_; }

    // Scans over the buffer read it in code units: single bytes, or 16-bit
    // units in the file's byte order in a UTF-16 file, so that looking for
    // "<" or ">" never stops inside another character.
    std::int32_t UnitSize() const { return IsUtf16(encoding_) ? 2 : 1; }
    // The code unit at pos; 0 outside the buffer.
    char16_t UnitAt(std::int32_t pos) const {
        return CodeUnitAt(encoding_, Size(), pos,
                          [this](std::int64_t at) { return pieces_.ByteAt(static_cast<std::int32_t>(at)); });
    }

private:
    ByteStreamObserver* observer_;
    PieceTable pieces_;
    mutable std::string edited_;
    mutable bool editedCurrent_ = false;
    XmlEncoding encoding_ = XmlEncoding::Utf8;
    bool modified_ = false;
};
