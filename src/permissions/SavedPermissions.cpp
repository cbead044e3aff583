#include "permissions/SavedPermissions.h"

#include <string>

#include "custact/XML/src/xml/BackupRegistry.h"
#include "permissions/Icacls.h"
#include "platform/Strings.h"
#include "platform/os/FileSystem.h"
#include "platform/os/TextFile.h"

namespace {

constexpr char16_t kEntrySeparator = u'\u0001';
constexpr char16_t kPathSeparator = u'\u0002';

// A temporary list file for icacls, deleted when it goes out of scope.
class TempListFile {
public:
    TempListFile() : path_(CreateTempFile()) {}
    ~TempListFile() {
        try {
            if (!path_.empty()) DeleteFileLogged(path_);
        } catch (...) {
            // Possibly unwinding already: a failing log line must not end the process.
        }
    }
    TempListFile(const TempListFile&) = delete;
    TempListFile& operator=(const TempListFile&) = delete;

    const WideString& Path() const { return path_; }

private:
    WideString path_;
};

}  // namespace

void SaveFilePermissions(SavedPermissions& saved, const WideString& targetPath) {
    const TempListFile list;
    if (list.Path().empty() || !SaveAclWithIcacls(targetPath, list.Path())) return;
    WideString text;
    if (ReadTextFile(list.Path(), &text)) saved[ToLongPath(targetPath)] = text;
}

// icacls reads its lists back as UTF-16LE without byte order mark. The list
// file goes whatever the outcome: its text stays in the map.
bool RestoreFilePermissions(const SavedPermissions& saved, const WideString& targetPath) {
    const auto found = saved.find(ToLongPath(targetPath));
    if (found == saved.end()) return true;
    const TempListFile list;
    if (list.Path().empty() || !WriteWholeFile(list.Path(), strings::ToUtf16Le(found->second))) return false;
    return RestoreAclWithIcacls(GetParentPath(targetPath), list.Path());
}

WideString JoinSavedPermissions(const SavedPermissions& saved) {
    WideString text;
    for (const auto& [path, list] : saved) {
        if (!text.empty()) text.push_back(kEntrySeparator);
        text += path;
        text.push_back(kPathSeparator);
        text += list;
    }
    return text;
}

// A piece without a path separator is not an entry and is skipped.
void SplitSavedPermissions(const WideString& text, SavedPermissions& saved) {
    for (const WideString& entry : strings::Split(text, kEntrySeparator)) {
        const std::vector<WideString> parts = strings::Split(entry, kPathSeparator);
        if (parts.size() < 2) continue;
        saved[parts.front()] = parts.back();
    }
}

void LoadSavedPermissions(SavedPermissions& saved, const WideString& upgradeCode) {
    SplitSavedPermissions(ReadSavedPermissionsValue(upgradeCode), saved);
}

void StoreSavedPermissions(const SavedPermissions& saved, const WideString& upgradeCode) {
    WriteSavedPermissionsValue(upgradeCode, JoinSavedPermissions(saved));
}
