#include "custact/XML/src/xml/FolderPath.h"

#include <vector>

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/os/FileSystem.h"

std::vector<WideString> CreateFolderPath(const WideString& filePath) {
    if (PathExists(filePath)) return {};
    std::vector<WideString> pieces = strings::Split(filePath, u'\\');
    // \\server\share\...: the walk starts at "\\server".
    if (pieces.size() >= 3 && pieces[0].empty() && pieces[1].empty()) {
        pieces.erase(pieces.begin(), pieces.begin() + 2);
        pieces[0] = u"\\\\" + pieces[0];
    }
    WideString folder = pieces[0];
    std::vector<WideString> created;
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
        folder += u"\\" + pieces[i];
        if (platform::CreateDirectoryW(ToLongPath(folder))) {
            LogIfEnabled(u"Folder created: [" + folder + u"].");
            created.push_back(folder);
            continue;
        }
        const std::uint32_t error = platform::GetLastError();
        if (error == platform::kErrorAlreadyExists) continue;
        LogIfEnabled(u"Failed to create folder: [" + folder + u"]. LastError= " + ToWideUnsigned(error));
        RemoveCreatedFolders(created);
        return {};
    }
    return created;
}

// Only folders of one walk go, deepest first; RemoveDirectoryW leaves any
// that is no longer empty.
void RemoveCreatedFolders(const std::vector<WideString>& folders) {
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) platform::RemoveDirectoryW(ToLongPath(*it));
}
