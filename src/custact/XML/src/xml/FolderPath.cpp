#include "custact/XML/src/xml/FolderPath.h"

#include <vector>

#include "installer/Logger.h"
#include "platform/Files.h"
#include "platform/os/FileSystem.h"

namespace {

void Log(const WideString& line) {
    Logger& log = Logger::Instance();
    if (log.IsEnabled()) log.Send(line);
}

std::vector<WideString> SplitOnBackslash(const WideString& path) {
    std::vector<WideString> pieces;
    std::size_t start = 0;
    for (std::size_t at = path.find(u'\\'); at != WideString::npos; at = path.find(u'\\', start)) {
        pieces.push_back(path.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(path.substr(start));
    return pieces;
}

}  // namespace

std::vector<WideString> CreateFolderPath(const WideString& filePath) {
    if (PathExists(filePath)) return {};
    std::vector<WideString> pieces = SplitOnBackslash(filePath);
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
            Log(u"Folder created: [" + folder + u"].");
            created.push_back(folder);
            continue;
        }
        const std::uint32_t error = platform::GetLastError();
        if (error == platform::kErrorAlreadyExists) continue;
        Log(u"Failed to create folder: [" + folder + u"]. LastError= " + ToWideUnsigned(error));
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
