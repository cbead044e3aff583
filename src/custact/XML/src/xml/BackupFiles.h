// Backup copies of the files the product changes, written next to each
// target file under a name made from the file row's BackupFileName pattern,
// in which "#" stands for a counter.
#pragma once

#include "installer/WideString.h"

// The separators that may stand beside the counter.
constexpr char16_t kBackupSeparators[] = u".-%^~&_";

// Removes the last (atEnd) or first character when it is a separator.
WideString TrimBackupSeparator(const WideString& text, bool atEnd);
// The backup path for one value of the counter; counter 0 leaves the
// counter out together with the separator beside it.
WideString BuildBackupFileName(const WideString& targetPath, const WideString& pattern, int counter);
// Copies the target to the first backup name that is free and returns that
// name. Throws when the copy fails for any other reason, so that a file is
// never changed without its backup.
WideString BackupTargetFile(const WideString& targetPath, const WideString& pattern);
// Copies the backup over the target (clearing the target's read-only
// attribute first); the backup stays. False for an empty backup path or a
// failed copy.
bool RestoreBackupFile(const WideString& targetPath, const WideString& backupPath);
