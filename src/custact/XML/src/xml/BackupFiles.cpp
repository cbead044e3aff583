#include "custact/XML/src/xml/BackupFiles.h"

#include "installer/Exception.h"
#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/AtomicFile.h"
#include "platform/os/FileSystem.h"

namespace {

// Far beyond any folder a person keeps; only a broken file system gets here.
constexpr int kMaxBackupCounter = 100000;

bool IsSeparator(char16_t c) { return WideString(kBackupSeparators).find(c) != WideString::npos; }

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

WideString BackupTargetFile(const WideString& targetPath, const WideString& pattern, const std::string& bytes) {
    LogIfEnabled(u"BackupTargetFile start.");
    for (int counter = 0; counter <= kMaxBackupCounter; ++counter) {
        const WideString name = BuildBackupFileName(targetPath, pattern, counter);
        // The name in long-path form too: it can pass 260 characters where
        // its folder alone did not.
        const WideString longName = ToLongPath(name);
        platform::File file = platform::File::CreateNew(longName);
        if (!file.IsOpen()) {
            const std::uint32_t error = platform::GetLastError();
            // A name that is taken, by a file, a folder or a link, moves on
            // to the next counter; any other failure would leave the file
            // without a backup.
            platform::PathKind kind = platform::PathKind::Missing;
            const bool taken = error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists ||
                               (platform::GetPathKind(longName, &kind) && kind != platform::PathKind::Missing);
            if (taken) continue;
            throw Exception(TRELLIS_HERE, u"Failed to back up the XML file " + targetPath + u" to " + name +
                                              u". LastError= " + SystemErrorText(error));
        }
        const bool written = (bytes.empty() || file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) &&
                             file.Flush();
        if (!written) {
            const std::uint32_t error = platform::GetLastError();
            file.Close();
            DeleteOwnFile(name);
            throw Exception(TRELLIS_HERE, u"Failed to back up the XML file " + targetPath + u" to " + name +
                                              u". LastError= " + SystemErrorText(error));
        }
        LogIfEnabled(u"BackupTargetFile end. Saved file to: " + name);
        return name;
    }
    throw Exception(TRELLIS_HERE, u"Failed to back up the XML file " + targetPath +
                                      u": every backup name up to counter " + ToWideDecimal(kMaxBackupCounter) +
                                      u" is taken.");
}

bool RestoreBackupFile(const WideString& targetPath, const WideString& backupPath) {
    LogIfEnabled(u"RestoreBackupFile start.");
    LogIfEnabled(u"Original path: " + targetPath);
    LogIfEnabled(u"Backup path: " + backupPath);
    if (backupPath.empty()) return false;
    std::string bytes;
    FileWriteFailure failure;
    if (!ReadWholeFile(backupPath, &bytes)) {
        failure.error = platform::GetLastError();
        failure.step = u"reading " + backupPath;
    } else {
        const WideString target = ToLongPath(targetPath);
        const std::uint32_t attributes = platform::GetFileAttributesW(target);
        if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeReadOnly) != 0 &&
            (attributes & platform::kFileAttributeReparsePoint) == 0) {
            platform::SetFileAttributesW(target, attributes & ~platform::kFileAttributeReadOnly);
        }
        if (AtomicReplaceFile(targetPath, bytes, ReplaceMode::EitherWay, &failure)) {
            LogIfEnabled(u"Restore backup file successfull.");
            return true;
        }
    }
    LogIfEnabled(u"Failed to restore the XML backup file !");
    LogIfEnabled(DescribeFailure(failure));
    return false;
}

bool DeleteBuiltFile(const WideString& targetPath) {
    const WideString target = ToLongPath(targetPath);
    platform::PathKind kind;
    if (!platform::GetPathKind(target, &kind)) {
        LogIfEnabled(u"Cannot tell what is at " + targetPath + u": " + SystemErrorText(platform::GetLastError()));
        return false;
    }
    switch (kind) {
    case platform::PathKind::Missing: return true;
    case platform::PathKind::File:
    case platform::PathKind::Link: return DeleteOwnFile(targetPath);
    case platform::PathKind::Folder:
    case platform::PathKind::Device: break;
    }
    LogIfEnabled(u"Not a file, so not deleted: " + targetPath);
    return false;
}
