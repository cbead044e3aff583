#include "custact/XML/src/util/ByteStreamUpdater.h"

#include <limits>
#include <stdexcept>

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/FileSystem.h"

namespace {

WideString Offset(std::int32_t value) { return ToWideUnsigned(static_cast<std::uint32_t>(value)); }

// The message std::string gives on Windows, so that both builds say the same.
[[noreturn]] void ThrowInvalidPosition() { throw std::out_of_range("invalid string position"); }

}  // namespace

void ByteStreamUpdater::LoadFile(const WideString& path) {
    // The numbered errors name only the file: the log line gives the reason.
    // Never through a link, never from a pipe or a device (which could hold
    // the installation forever).
    platform::File file = platform::File::OpenRegularForRead(ToLongPath(path));
    if (!file.IsOpen()) {
        LogIfEnabled(u"Cannot open " + path + u": " + SystemErrorText(platform::GetLastError()));
        throw Exception(TRELLIS_HERE, 4111, {path});
    }
    std::uint64_t size = 0;
    // Positions are signed 32-bit offsets, so larger files cannot be edited.
    if (!file.GetSize(&size) || size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw Exception(TRELLIS_HERE, 4115, {path});
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint32_t read = 0;
    if (size > 0 && (!file.Read(&bytes[0], static_cast<std::uint32_t>(size), &read) || read != size)) {
        LogIfEnabled(u"Cannot read " + path + u": " + SystemErrorText(platform::GetLastError()));
        throw Exception(TRELLIS_HERE, 4112, {path});
    }
    SetBytes(std::move(bytes));
    modified_ = false;
}

// The file is replaced in one step (AtomicFile.h): it holds either its old
// bytes or all of the new ones.
void ByteStreamUpdater::SaveFile(const WideString& path) const {
    FileWriteFailure failure;
    if (AtomicReplaceFile(path, pieces_.Pieces(), ReplaceMode::ExistingFile, &failure)) return;
    LogIfEnabled(DescribeFailure(failure));
    const bool opened =
        failure.stage == FileWriteFailure::Stage::Write || failure.stage == FileWriteFailure::Stage::Replace;
    if (!opened) throw Exception(TRELLIS_HERE, 4115, {path});
    throw Exception(TRELLIS_HERE, 4116, {path});
}

std::int32_t ByteStreamUpdater::ByteLength(const WideString& text) const {
    if (IsUtf16(encoding_)) return static_cast<std::int32_t>(text.size() * 2);
    return static_cast<std::int32_t>(EncodeXmlText(encoding_, text).size());
}

void ByteStreamUpdater::Erase(std::int32_t start, std::int32_t end) {
    if (start >= end) return;
    if (start < 0 || start > Size()) ThrowInvalidPosition();
    if (end > Size()) end = Size();
    if (start == end) return;
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(u"@Erase BYTE stream: Range(" + Offset(start) + u", " + Offset(end) + u").");
    pieces_.Erase(start, end);
    editedCurrent_ = false;
    if (observer_ != nullptr) observer_->OnErase(start, end);
    modified_ = true;
}

void ByteStreamUpdater::Insert(std::int32_t at, const WideString& text) {
    if (text.empty()) return;
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(u"@Insert in BYTE stream at: (" + Offset(at) + u") chunk: [" + text + u"].");
    const std::string converted = EncodeXmlText(encoding_, text);
    if (at < 0 || at > Size()) ThrowInvalidPosition();
    if (converted.empty()) return;
    pieces_.Insert(at, converted);
    editedCurrent_ = false;
    if (observer_ != nullptr) observer_->OnInsert(at, static_cast<std::int32_t>(converted.size()));
    modified_ = true;
}

void ByteStreamUpdater::Update(std::int32_t start, std::int32_t end, const WideString& text) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) {
        log.Send(u"@Update BYTE stream: Range(" + Offset(start) + u", " + Offset(end) + u") with: [" + text + u"].");
    }
    Erase(start, end);
    Insert(start, text);
}

void ByteStreamUpdater::SetBytes(std::string bytes) {
    pieces_.Reset(std::move(bytes));
    edited_.clear();
    editedCurrent_ = false;
}

const std::string& ByteStreamUpdater::Bytes() const {
    if (!pieces_.Edited()) return pieces_.Original();
    if (!editedCurrent_) {
        edited_ = pieces_.Text();
        editedCurrent_ = true;
    }
    return edited_;
}
