// Writing a whole file so that it is never seen half-written: the bytes go
// to a new temporary file in the target's folder, are flushed to the disk,
// and the temporary file then takes the target's place in one step.
// Whatever happens, the target holds either its old bytes or all the new
// ones, and no temporary file stays behind; the one exception is a Windows
// replacement that gave up after the old file had left its name, where the
// temporary file, then the only copy, stays and the failure names it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "installer/WideString.h"

enum class ReplaceMode {
    // The target exists; it keeps its attributes and access rules.
    ExistingFile,
    // The target is created: a file that appeared meanwhile is not replaced.
    NewFile,
    // Whichever of the two the target is now.
    EitherWay,
};

// What failed, for the log and for error messages.
struct FileWriteFailure {
    enum class Stage {
        Check,    // the target is of a kind that is refused, or cannot be looked at
        Create,   // no temporary file could be made
        Write,    // writing or flushing the temporary file
        Replace,  // putting it in the target's place
    };
    Stage stage = Stage::Check;
    std::uint32_t error = 0;  // a Windows error code
    WideString step;          // e.g. "writing the temporary file C:\App\web.config.trellis-1.tmp"
};

// The temporary file's name for one value of the counter (from 1).
WideString TemporaryFileName(const WideString& target, int counter);

// Puts the bytes at the target. A target that is a link, a folder or a
// device is refused: nothing is ever written through a link. False, with
// the failure described, when the target did not get the new bytes.
bool AtomicReplaceFile(const WideString& target, const std::string& bytes, ReplaceMode mode,
                       FileWriteFailure* failure = nullptr);
// The same for bytes held in pieces, written one after the other.
bool AtomicReplaceFile(const WideString& target, const std::vector<std::string_view>& pieces, ReplaceMode mode,
                       FileWriteFailure* failure = nullptr);

// "<step> failed: <code>-<system text>".
WideString DescribeFailure(const FileWriteFailure& failure);
