// Backup copies of the files the product changes, written next to each
// target file under a name made from the file row's BackupFileName pattern,
// in which "#" stands for a counter.
#pragma once

#include <string>

#include "installer/WideString.h"

// The separators that may stand beside the counter.
constexpr char16_t kBackupSeparators[] = u".-%^~&_";

// Removes the last (atEnd) or first character when it is a separator.
WideString TrimBackupSeparator(const WideString& text, bool atEnd);
// The backup path for one value of the counter; counter 0 leaves the
// counter out together with the separator beside it.
WideString BuildBackupFileName(const WideString& targetPath, const WideString& pattern, int counter);
// Writes the target's bytes, as they were read, to the first backup name
// that is free (created new: a name that is taken, by a link too, moves the
// counter on), flushed to the disk, and returns that name. Throws when the
// backup cannot be written, so that a file is never changed without it;
// nothing is left behind then.
WideString BackupTargetFile(const WideString& targetPath, const WideString& pattern, const std::string& bytes);
// Puts the backup's bytes in the target's place in one step (clearing the
// target's read-only attribute first); the backup stays. False, with the
// reason logged, for an empty backup path or a failure.
bool RestoreBackupFile(const WideString& targetPath, const WideString& backupPath);
// Deletes a file the product built: true when it is gone, whether it was
// there or not; a folder or a device in its place is not deleted.
bool DeleteBuiltFile(const WideString& targetPath);
