#include "platform/os/FileSystem.h"

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "platform/os/AtomicFile.h"

namespace {

const WideString kLongPrefix = u"\\\\?\\";
const WideString kLongUncPrefix = u"\\\\?\\UNC\\";
const char16_t kLocalSystemSid[] = u"S-1-5-18";
const char16_t kAdministratorsSid[] = u"S-1-5-32-544";

bool DeleteLogged(const WideString& path, bool directory) {
    const WideString target =
        path.size() >= 260 && !strings::StartsWith(path, kLongPrefix) ? kLongPrefix + path : path;
    if (directory ? platform::RemoveDirectoryW(target) : platform::DeleteFileW(target)) return true;
    const std::uint32_t error = platform::GetLastError();
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) {
        log.Send(WideString(directory ? u"Failed to delete directory: " : u"Failed to delete file: ") + path +
                 u" LastError= " + ToWideUnsigned(error) + u"-" + platform::FormatSystemMessage(error));
    }
    return false;
}

WideString WithoutTrailingBackslash(WideString path) {
    return NormalizeBackslashes(StripLongPathPrefix(path));
}

}  // namespace

WideString ComputeSecureTempFolder() {
    if (platform::GetProcessUserSid() != kLocalSystemSid) return WithoutTrailingBackslash(platform::GetTempPathW());
    WideString folder;
    if (!platform::GetTempPath2W(&folder)) folder = platform::GetWindowsDirectoryW() + u"\\SystemTemp\\";
    if (!platform::PathFileExistsW(ToLongPath(folder))) {
        const char16_t* const sids[] = {kLocalSystemSid, kAdministratorsSid};
        platform::CreateDirectoryForAccounts(ToLongPath(folder), sids, 2);
    }
    return WithoutTrailingBackslash(folder);
}

WideString ToLongPath(const WideString& path) {
    if (path.size() < 248) return path;
    const bool rooted = strings::StartsWith(path, u"\\\\") || (path.size() > 1 && path[1] == u':');
    if (!rooted) return path;
    if (platform::PathIsUNCW(path)) {
        if (strings::StartsWith(path, kLongUncPrefix)) return path;
        return kLongUncPrefix + path.substr(2);
    }
    if (strings::StartsWith(path, kLongPrefix)) return path;
    return kLongPrefix + path;
}

WideString StripLongPathPrefix(const WideString& path) {
    if (strings::StartsWith(path, kLongUncPrefix)) return u"\\\\" + path.substr(kLongUncPrefix.size());
    if (strings::StartsWith(path, kLongPrefix)) return path.substr(kLongPrefix.size());
    return path;
}

WideString NormalizeBackslashes(const WideString& path) {
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == u'\\') --end;
    std::size_t begin = 0;
    WideString out;
    if (end >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        out = u"\\\\";
        begin = 2;
    }
    while (begin < end && path[begin] == u'\\') ++begin;
    for (std::size_t i = begin; i < end; ++i) {
        if (path[i] == u'\\' && path[i - 1] == u'\\') continue;
        out.push_back(path[i]);
    }
    return out;
}

WideString GetParentPath(const WideString& path) {
    const std::size_t last = path.rfind(u'\\');
    if (last == WideString::npos || last == 0) return WideString();
    if (strings::StartsWith(path, u"\\\\") && last == 1) return WideString();
    return path.substr(0, last);
}

WideString GetFileNamePart(const WideString& path) {
    std::size_t last = path.rfind(u'\\');
    if (last == WideString::npos) last = path.rfind(u'>');
    return last == WideString::npos ? path : path.substr(last + 1);
}

bool PathExists(const WideString& path) {
    if (path.empty()) return false;
    if (path[0] != u'\\' && path.find(u':') == WideString::npos) return false;
    platform::FileFinder finder;
    platform::FindData data;
    return finder.First(ToLongPath(path), &data);
}

WideString SystemErrorText(std::uint32_t error) {
    WideString text = platform::FormatSystemMessage(error);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
    return ToWideUnsigned(error) + u"-" + text;
}

bool DeleteFileLogged(const WideString& path) { return DeleteLogged(path, false); }

bool DeleteOwnFile(const WideString& path) {
    const WideString target = ToLongPath(path);
    if (platform::DeleteFileW(target)) return true;
    std::uint32_t error = platform::GetLastError();
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) return true;
    const std::uint32_t attributes = platform::GetFileAttributesW(target);
    if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kFileAttributeReadOnly) != 0 &&
        platform::SetFileAttributesW(target, attributes & ~platform::kFileAttributeReadOnly)) {
        if (platform::DeleteFileW(target)) return true;
        error = platform::GetLastError();
    }
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(u"Failed to delete file: " + path + u" LastError= " + SystemErrorText(error));
    return false;
}

bool DeleteDirectoryLogged(const WideString& path) { return DeleteLogged(path, true); }

const WideString& GetSecureTempFolder() {
    static const WideString folder = ComputeSecureTempFolder();
    return folder;
}

WideString CreateTempFile() { return platform::GetTempFileNameW(GetSecureTempFolder(), u"perm"); }

bool ReadWholeFile(const WideString& path, std::string* bytes) {
    platform::File file = platform::File::OpenRegularForRead(ToLongPath(path));
    std::uint64_t size = 0;
    if (!file.IsOpen() || !file.GetSize(&size) || size > 0x7FFFFFFFu) return false;
    bytes->assign(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    while (done < bytes->size()) {
        std::uint32_t read = 0;
        if (!file.Read(bytes->data() + done, static_cast<std::uint32_t>(bytes->size() - done), &read)) return false;
        if (read == 0) break;
        done += read;
    }
    bytes->resize(done);
    return true;
}

bool WriteWholeFile(const WideString& path, const std::string& bytes) {
    FileWriteFailure failure;
    if (AtomicReplaceFile(path, bytes, ReplaceMode::EitherWay, &failure)) return true;
    platform::SetLastError(failure.error);
    return false;
}
