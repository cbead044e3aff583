#include "platform/os/AtomicFile.h"

#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace {

// Names are taken with create-new semantics, so a name that exists (a
// leftover, or a link someone planted) only moves the counter on.
constexpr int kMaxTemporaryCounter = 1000;

using Stage = FileWriteFailure::Stage;

bool Fail(FileWriteFailure* failure, Stage stage, WideString step, std::uint32_t error = platform::GetLastError()) {
    if (failure != nullptr) {
        failure->stage = stage;
        failure->error = error;
        failure->step = std::move(step);
    }
    return false;
}

// The error that refuses a target of this kind, 0 for a kind the mode accepts.
std::uint32_t RefusedKind(platform::PathKind kind, ReplaceMode mode) {
    switch (kind) {
    case platform::PathKind::Link: return platform::kErrorStoppedOnSymlink;
    case platform::PathKind::Folder: return platform::kErrorAccessDenied;
    case platform::PathKind::Device: return platform::kErrorBadFileType;
    case platform::PathKind::Missing: return mode == ReplaceMode::ExistingFile ? platform::kErrorFileNotFound : 0;
    case platform::PathKind::File: return mode == ReplaceMode::NewFile ? platform::kErrorAlreadyExists : 0;
    }
    return 0;
}

// Small pieces are gathered into writes of this size.
constexpr std::size_t kWriteChunk = 1 << 16;

bool WritePieces(platform::File& file, const std::vector<std::string_view>& pieces) {
    std::string chunk;
    const auto flush = [&] {
        if (chunk.empty()) return true;
        const bool written = file.Write(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
        chunk.clear();
        return written;
    };
    for (std::string_view piece : pieces) {
        if (chunk.size() + piece.size() <= kWriteChunk) {
            chunk.append(piece.data(), piece.size());
            continue;
        }
        if (!flush()) return false;
        if (piece.size() < kWriteChunk) {
            chunk.append(piece.data(), piece.size());
        } else if (!file.Write(piece.data(), static_cast<std::uint32_t>(piece.size()))) {
            return false;
        }
    }
    return flush();
}

// Creates the temporary file and writes the bytes to the disk; on failure
// the file is gone again.
bool WriteTemporaryFile(const WideString& target, const std::vector<std::string_view>& pieces, WideString* temporary,
                        FileWriteFailure* failure) {
    platform::File file;
    for (int counter = 1; !file.IsOpen(); ++counter) {
        *temporary = TemporaryFileName(target, counter);
        file = platform::File::CreateNew(ToLongPath(*temporary));
        if (file.IsOpen()) break;
        const std::uint32_t error = platform::GetLastError();
        const bool taken = error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists;
        if (!taken || counter == kMaxTemporaryCounter)
            return Fail(failure, Stage::Create, u"creating the temporary file " + *temporary, error);
    }
    const char* step = nullptr;
    std::uint64_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    if (size > 0xFFFFFFFFu) {
        platform::SetLastError(platform::kErrorDiskFull);
        step = "writing";
    } else if (!WritePieces(file, pieces)) {
        step = "writing";
    } else if (!file.Flush()) {
        step = "flushing";
    }
    if (step == nullptr) return true;
    const std::uint32_t error = platform::GetLastError();
    file.Close();
    DeleteOwnFile(*temporary);
    return Fail(failure, Stage::Write, Widen(step) + u" the temporary file " + *temporary, error);
}

}  // namespace

WideString TemporaryFileName(const WideString& target, int counter) {
    return target + u".trellis-" + ToWideDecimal(counter) + u".tmp";
}

bool AtomicReplaceFile(const WideString& target, const std::string& bytes, ReplaceMode mode,
                       FileWriteFailure* failure) {
    return AtomicReplaceFile(target, std::vector<std::string_view>{bytes}, mode, failure);
}

bool AtomicReplaceFile(const WideString& target, const std::vector<std::string_view>& pieces, ReplaceMode mode,
                       FileWriteFailure* failure) {
    const WideString longTarget = ToLongPath(target);
    platform::PathKind kind;
    if (!platform::GetPathKind(longTarget, &kind)) return Fail(failure, Stage::Check, u"checking " + target);
    if (const std::uint32_t refused = RefusedKind(kind, mode))
        return Fail(failure, Stage::Check, u"checking " + target, refused);
    const bool replace = kind == platform::PathKind::File;

    WideString temporary;
    if (!WriteTemporaryFile(target, pieces, &temporary, failure)) return false;
    const WideString longTemporary = ToLongPath(temporary);
    const bool moved = replace ? platform::ReplaceFileW(longTarget, longTemporary)
                               : platform::MoveFileExW(longTemporary, longTarget, platform::kMoveFileWriteThrough);
    if (moved) return true;
    const std::uint32_t error = platform::GetLastError();
    // ReplaceFileW can give up after the old file left its name: then the
    // temporary file is the only copy, and it goes in or stays.
    if (replace && platform::GetPathKind(longTarget, &kind) && kind == platform::PathKind::Missing) {
        if (platform::MoveFileExW(longTemporary, longTarget, platform::kMoveFileWriteThrough)) return true;
        return Fail(failure, Stage::Replace, u"replacing " + target + u" (its new bytes stay in " + temporary + u")",
                    error);
    }
    DeleteOwnFile(temporary);
    return Fail(failure, Stage::Replace, (replace ? u"replacing " : u"creating ") + target + u" with " + temporary,
                error);
}

WideString DescribeFailure(const FileWriteFailure& failure) {
    return failure.step + u" failed: " + SystemErrorText(failure.error);
}
