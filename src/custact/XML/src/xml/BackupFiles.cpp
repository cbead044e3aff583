#include "custact/XML/src/xml/BackupFiles.h"

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace {

// Far beyond any folder a person keeps; only a broken file system gets here.
constexpr int kMaxBackupCounter = 100000;

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

bool IsSeparator(char16_t c) { return WideString(kBackupSeparators).find(c) != WideString::npos; }

WideString SystemErrorText(std::uint32_t error) {
    WideString text = platform::FormatSystemMessage(error);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
    return ToWideUnsigned(error) + u"-" + text;
}

}  // namespace

WideString TrimBackupSeparator(const WideString& text, bool atEnd) {
    if (text.empty()) return text;
    if (atEnd) return IsSeparator(text.back()) ? text.substr(0, text.size() - 1) : text;
    return IsSeparator(text.front()) ? text.substr(1) : text;
}

WideString BuildBackupFileName(const WideString& targetPath, const WideString& pattern, int counter) {
    WideString folder = ToLongPath(GetParentPath(targetPath));
    if (!folder.empty() && folder.back() != u'\\') folder.push_back(u'\\');

    WideString name = pattern;
    if (name.empty()) {
        name = GetFileNamePart(targetPath) + u".#.back";
    } else if (name.find(u'#') == WideString::npos) {
        name.push_back(u'#');
    }
    // Only the text up to a second "#" counts.
    const std::size_t hash = name.find(u'#');
    const std::size_t nextHash = name.find(u'#', hash + 1);
    const WideString first = name.substr(0, hash);
    const WideString second =
        name.substr(hash + 1, nextHash == WideString::npos ? WideString::npos : nextHash - hash - 1);

    if (name.front() != u'#' || name.back() == u'#') {
        WideString result = folder + first;
        result = counter < 1 ? TrimBackupSeparator(result, true) : result + ToWideDecimal(counter);
        return result + second;
    }
    if (counter >= 1) return folder + ToWideDecimal(counter) + second;
    return folder + TrimBackupSeparator(second, false);
}

WideString BackupTargetFile(const WideString& targetPath, const WideString& pattern) {
    Log(u"BackupTargetFile start.");
    const WideString source = ToLongPath(targetPath);
    for (int counter = 0; counter <= kMaxBackupCounter; ++counter) {
        const WideString name = BuildBackupFileName(targetPath, pattern, counter);
        // The name in long-path form too: it can pass 260 characters where
        // its folder alone did not.
        if (platform::CopyFileNoOverwrite(source, ToLongPath(name))) {
            Log(u"BackupTargetFile end. Saved file to: " + name);
            return name;
        }
        const std::uint32_t error = platform::GetLastError();
        // A name that is taken, by a file or a folder, moves on to the next
        // counter; any other failure would leave the file without a backup.
        const bool taken = error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists ||
                           platform::GetFileAttributesW(ToLongPath(name)) != platform::kInvalidFileAttributes;
        if (!taken) {
            throw Exception(TRELLIS_HERE, u"Failed to back up the XML file " + targetPath + u" to " + name +
                                              u". LastError= " + SystemErrorText(error));
        }
    }
    throw Exception(TRELLIS_HERE, u"Failed to back up the XML file " + targetPath +
                                      u": every backup name up to counter " + ToWideDecimal(kMaxBackupCounter) +
                                      u" is taken.");
}

bool RestoreBackupFile(const WideString& targetPath, const WideString& backupPath) {
    Log(u"RestoreBackupFile start.");
    Log(u"Original path: " + targetPath);
    Log(u"Backup path: " + backupPath);
    if (backupPath.empty()) return false;
    const WideString target = ToLongPath(targetPath);
    const std::uint32_t attributes = platform::GetFileAttributesW(target);
    if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeReadOnly) != 0) {
        platform::SetFileAttributesW(target, attributes & ~platform::kFileAttributeReadOnly);
    }
    if (platform::CopyFileOverwrite(ToLongPath(backupPath), target)) {
        Log(u"Restore backup file successfull.");
        return true;
    }
    Log(u"Failed to restore the XML backup file !");
    return false;
}
