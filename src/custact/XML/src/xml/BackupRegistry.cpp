#include "custact/XML/src/xml/BackupRegistry.h"

#include <algorithm>

#include "installer/Logger.h"
#include "platform/os/FileSystem.h"
#include "platform/os/RegistryKey.h"

const char16_t kBackupRegistryKey[] = u"Software\\Norrvik\\Quillmark\\Trellis";

namespace {

constexpr char16_t kSeparator = u'|';

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

WideString Join(const std::vector<WideString>& pieces) {
    WideString value;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) value.push_back(kSeparator);
        value += pieces[i];
    }
    return value;
}

// The new value when an entry is added to a value that is not empty.
WideString ExtendedValue(const WideString& targetPath, const WideString& oldValue, const WideString& entry) {
    std::vector<WideString> kept;
    bool built = false;
    for (const WideString& piece : SplitBackupValue(oldValue)) {
        if (piece.empty()) continue;
        if (piece == kBuiltFromScratch) {
            built = true;
        } else if (entry == kBuiltFromScratch) {
            // The target was missing, so this backup belongs to an earlier
            // file of that name; it stays on disk, unrecorded.
            if (PathExists(piece)) Log(u"Backup of an earlier file left in place: " + piece);
        } else if (!PathExists(piece)) {
            Log(u"Backup entry of " + targetPath + u" dropped, the backup no longer exists: " + piece);
        } else if (piece != entry && std::find(kept.begin(), kept.end(), piece) == kept.end()) {
            kept.push_back(piece);
        }
    }
    if (entry == kBuiltFromScratch) return entry;
    kept.push_back(entry);
    // The marker stays in front, where GetBackupEntry looks for it.
    if (built) kept.insert(kept.begin(), kBuiltFromScratch);
    return Join(kept);
}

}  // namespace

WideString ProductBackupKey(const WideString& productKey) {
    return WideString(kBackupRegistryKey) + u"\\" + productKey;
}

std::vector<WideString> SplitBackupValue(const WideString& value) {
    std::vector<WideString> pieces;
    if (value.empty()) return pieces;
    std::size_t start = 0;
    for (std::size_t at = value.find(kSeparator); at != WideString::npos; at = value.find(kSeparator, start)) {
        pieces.push_back(value.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(value.substr(start));
    return pieces;
}

void AddBackupEntry(const WideString& productKey, const WideString& targetPath, const WideString& entry) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    if (!key.Create()) return;
    const WideString oldValue = key.ReadString(targetPath);
    key.WriteString(targetPath, oldValue.empty() ? entry : ExtendedValue(targetPath, oldValue, entry));
}

WideString GetBackupEntry(const WideString& productKey, const WideString& targetPath) {
    const RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false);
    if (!key.IsOpen()) return WideString();
    const WideString value = key.ReadString(targetPath);
    const std::vector<WideString> pieces = SplitBackupValue(value);
    if (pieces.size() <= 1) return value;
    return value.compare(0, 2, u"*|") == 0 ? pieces[1] : pieces[0];
}

void RemoveBackupEntry(const WideString& productKey, const WideString& targetPath, const WideString& entry,
                       bool deleteIfSingle) {
    RegistryKey key(ProductBackupKey(productKey), platform::kHKeyCurrentUser, true);
    if (!key.Create()) return;
    std::vector<WideString> pieces = SplitBackupValue(key.ReadString(targetPath));
    if (pieces.size() > 1) {
        pieces.erase(std::remove(pieces.begin(), pieces.end(), entry), pieces.end());
        key.WriteString(targetPath, Join(pieces));
    } else if (pieces.size() == 1 && deleteIfSingle) {
        key.DeleteValue(targetPath);
    }
}

void DeleteProductBackupKey(const WideString& productKey) {
    if (!RegistryKey(ProductBackupKey(productKey), platform::kHKeyCurrentUser, false).IsOpen()) return;
    RegistryKey parent(kBackupRegistryKey, platform::kHKeyCurrentUser, true);
    if (parent.Create()) parent.DeleteSubkey(productKey, true);
    CleanUpBackupRegistry();
}

void DeleteSavedPermissionsValue(const WideString& upgradeCode) {
    RegistryKey key(kBackupRegistryKey, platform::kHKeyCurrentUser, true);
    if (key.Create()) key.DeleteValue(upgradeCode);
    key.Close();
    CleanUpBackupRegistry();
}

WideString ReadSavedPermissionsValue(const WideString& upgradeCode) {
    return RegistryKey(kBackupRegistryKey, platform::kHKeyCurrentUser, false).ReadString(upgradeCode);
}

void WriteSavedPermissionsValue(const WideString& upgradeCode, const WideString& text) {
    RegistryKey(kBackupRegistryKey, platform::kHKeyCurrentUser, true).WriteString(upgradeCode, text);
}

// Without force DeleteSubkey leaves a key that holds values, and Windows
// refuses one that still has subkeys: so each key goes exactly when
// nothing lives in it.
void CleanUpBackupRegistry() {
    const struct {
        const char16_t* parent;
        const char16_t* child;
    } steps[] = {{u"Software\\Norrvik\\Quillmark", u"Trellis"},
                 {u"Software\\Norrvik", u"Quillmark"},
                 {u"Software", u"Norrvik"}};
    for (const auto& step : steps) {
        RegistryKey parent(step.parent, platform::kHKeyCurrentUser, true);
        if (parent.Create()) parent.DeleteSubkey(step.child, false);
    }
}
