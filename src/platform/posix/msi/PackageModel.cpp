// Directory resolution, standard properties and feature selection of the
// stand-in installer.
#include "platform/posix/msi/PackageModel.h"

#include <functional>

#include "platform/Msi.h"
#include "platform/Strings.h"
#include "platform/posix/msi/InstallerSession.h"
#include "platform/posix/msi/MsiInternal.h"

namespace platform::posix {

namespace {

using msi::Integer;
using msi::Rows;
using msi::Text;

// The target half of "target:source".
std::u16string TargetPart(const std::u16string& value) {
    const std::size_t colon = value.find(u':');
    return colon == std::u16string::npos ? value : value.substr(0, colon);
}

bool IsFinallyInstalled(const ItemState& state) {
    return state.action == kInstallStateLocal ||
           (state.installed == kInstallStateLocal && state.action != kInstallStateAbsent);
}

}  // namespace

PackageTables ReadPackageTables(const InstallerSession& session) {
    PackageTables tables;
    for (const msi::Record& row :
         Rows(session, u"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`")) {
        tables.directories.push_back({Text(row, 1), Text(row, 2), Text(row, 3)});
    }
    for (const msi::Record& row : Rows(session, u"SELECT `Feature`, `Feature_Parent`, `Level` FROM `Feature`")) {
        tables.features.push_back({Text(row, 1), Text(row, 2), Integer(row, 3, 0)});
    }
    for (const msi::Record& row :
         Rows(session, u"SELECT `Component`, `Directory_`, `Condition` FROM `Component`")) {
        tables.components.push_back({Text(row, 1), Text(row, 2), Text(row, 3)});
    }
    for (const msi::Record& row : Rows(session, u"SELECT `Feature_`, `Component_` FROM `FeatureComponents`")) {
        tables.featureComponents.push_back({Text(row, 1), Text(row, 2)});
    }
    for (const msi::Record& row : Rows(session, u"SELECT `File`, `Component_`, `FileName` FROM `File`")) {
        tables.files.push_back({Text(row, 1), Text(row, 2), Text(row, 3)});
    }
    for (const msi::Record& row : Rows(session, u"SELECT `Feature_`, `Level`, `Condition` FROM `Condition`")) {
        tables.featureConditions.push_back({Text(row, 1), Integer(row, 2, 0), Text(row, 3)});
    }
    return tables;
}

std::vector<std::u16string> SplitList(const std::u16string& text, char16_t separator) {
    std::vector<std::u16string> items;
    for (std::u16string& item : strings::Split(text, separator)) {
        const std::size_t first = item.find_first_not_of(u' ');
        if (first != std::u16string::npos) items.push_back(item.substr(first, item.find_last_not_of(u' ') + 1 - first));
    }
    return items;
}

std::u16string WithBackslash(std::u16string path) {
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    return path;
}

std::u16string LongTargetName(const std::u16string& value) {
    const std::u16string target = TargetPart(value);
    const std::size_t bar = target.find(u'|');
    return bar == std::u16string::npos ? target : target.substr(bar + 1);
}

std::u16string ShortTargetName(const std::u16string& value) {
    const std::u16string target = TargetPart(value);
    return target.substr(0, target.find(u'|'));
}

std::map<std::u16string, std::u16string> ResolveDirectories(const std::vector<DirectoryRow>& rows,
                                                            const PropertyLookup& property,
                                                            std::vector<std::u16string>* problems) {
    std::map<std::u16string, const DirectoryRow*> byName;
    for (const DirectoryRow& row : rows) byName.emplace(row.directory, &row);

    std::map<std::u16string, std::u16string> resolved;
    std::map<std::u16string, bool> failed;
    std::vector<std::u16string> visiting;
    const std::function<bool(const DirectoryRow&)> resolve = [&](const DirectoryRow& row) -> bool {
        if (resolved.count(row.directory) != 0) return true;
        if (failed.count(row.directory) != 0) return false;
        for (const std::u16string& name : visiting) {
            if (name == row.directory) {
                problems->push_back(u"Directory " + row.directory + u" is its own ancestor");
                failed[row.directory] = true;
                return false;
            }
        }
        std::u16string path = property(row.directory);
        if (!path.empty()) {
            path = WithBackslash(path);
        } else if (row.parent.empty() || row.parent == row.directory) {
            path = WithBackslash(property(u"ROOTDRIVE"));
            if (path.empty()) path = u"C:\\";
        } else {
            const auto parent = byName.find(row.parent);
            if (parent == byName.end()) {
                problems->push_back(u"Directory " + row.directory + u" names an unknown parent " + row.parent);
                failed[row.directory] = true;
                return false;
            }
            visiting.push_back(row.directory);
            const bool parentResolved = resolve(*parent->second);
            visiting.pop_back();
            if (!parentResolved) {
                failed[row.directory] = true;
                return false;
            }
            const std::u16string name = LongTargetName(row.defaultDir);
            path = resolved[row.parent];
            if (!name.empty() && name != u".") path += name + u"\\";
        }
        resolved[row.directory] = path;
        return true;
    };
    for (const DirectoryRow& row : rows) resolve(row);
    return resolved;
}

std::map<std::u16string, std::u16string> StandardProperties(const std::u16string& userName, bool perMachine) {
    const std::u16string profile = u"C:\\Users\\" + userName + u"\\";
    const std::u16string roaming = profile + u"AppData\\Roaming\\";
    const std::u16string shell = perMachine ? u"C:\\ProgramData\\Microsoft\\Windows\\" : roaming + u"Microsoft\\Windows\\";
    std::map<std::u16string, std::u16string> p = {
        {u"ROOTDRIVE", u"C:\\"},
        {u"WindowsVolume", u"C:\\"},
        {u"PrimaryVolumePath", u"C:"},
        {u"WindowsFolder", u"C:\\Windows\\"},
        {u"SystemFolder", u"C:\\Windows\\SysWOW64\\"},
        {u"System64Folder", u"C:\\Windows\\System32\\"},
        {u"System16Folder", u"C:\\Windows\\system\\"},
        {u"FontsFolder", u"C:\\Windows\\Fonts\\"},
        {u"ProgramFilesFolder", u"C:\\Program Files (x86)\\"},
        {u"ProgramFiles64Folder", u"C:\\Program Files\\"},
        {u"CommonFilesFolder", u"C:\\Program Files (x86)\\Common Files\\"},
        {u"CommonFiles64Folder", u"C:\\Program Files\\Common Files\\"},
        {u"CommonAppDataFolder", u"C:\\ProgramData\\"},
        // The sandbox's GetTempPathW answers C:\Temp\, so the installer agrees.
        {u"TempFolder", u"C:\\Temp\\"},
        {u"AppDataFolder", roaming},
        {u"LocalAppDataFolder", profile + u"AppData\\Local\\"},
        {u"PersonalFolder", profile + u"Documents\\"},
        {u"MyPicturesFolder", profile + u"Pictures\\"},
        {u"FavoritesFolder", profile + u"Favorites\\"},
        {u"NetHoodFolder", roaming + u"Microsoft\\Windows\\Network Shortcuts\\"},
        {u"PrintHoodFolder", roaming + u"Microsoft\\Windows\\Printer Shortcuts\\"},
        {u"RecentFolder", roaming + u"Microsoft\\Windows\\Recent\\"},
        {u"SendToFolder", roaming + u"Microsoft\\Windows\\SendTo\\"},
        {u"DesktopFolder", perMachine ? u"C:\\Users\\Public\\Desktop\\" : profile + u"Desktop\\"},
        {u"StartMenuFolder", shell + u"Start Menu\\"},
        {u"ProgramMenuFolder", shell + u"Start Menu\\Programs\\"},
        {u"StartupFolder", shell + u"Start Menu\\Programs\\Startup\\"},
        {u"AdminToolsFolder", shell + u"Start Menu\\Programs\\Administrative Tools\\"},
        {u"TemplateFolder", shell + u"Templates\\"},
        // Windows Installer 5 reports Windows 8.1 (603) on every later Windows.
        {u"VersionNT", u"603"},
        {u"VersionNT64", u"603"},
        {u"WindowsBuild", u"9600"},
        {u"ServicePackLevel", u"0"},
        {u"Msix64", u"6"},
        {u"MsiNTProductType", u"1"},
        {u"VersionMsi", u"5.00"},
        {u"SystemLanguageID", u"1033"},
        {u"UserLanguageID", u"1033"},
        {u"ComputerName", u"TRELLIS-HOST"},
        {u"LogonUser", userName},
        {u"AdminUser", u"1"},
        {u"Privileged", u"1"},
    };
    return p;
}

Selection SelectFeatures(const PackageTables& tables, const SelectionRequest& request,
                         const ConditionEvaluator& evaluate) {
    Selection selection;
    std::map<std::u16string, std::u16string> parentOf;
    for (const FeatureRow& row : tables.features) {
        selection.featureLevels[row.feature] = row.level;
        if (!row.parent.empty() && row.parent != row.feature) parentOf[row.feature] = row.parent;
    }
    for (const FeatureConditionRow& row : tables.featureConditions) {
        if (selection.featureLevels.count(row.feature) != 0 && evaluate(row.condition) == kMsiConditionTrue) {
            selection.featureLevels[row.feature] = row.level;
        }
    }

    // Walks up the parents; a loop in the Feature table ends the walk.
    const auto ancestors = [&](const std::u16string& feature) {
        std::vector<std::u16string> chain;
        for (auto it = parentOf.find(feature); it != parentOf.end(); it = parentOf.find(it->second)) {
            if (it->second == feature || chain.size() > parentOf.size()) break;
            chain.push_back(it->second);
        }
        return chain;
    };
    const auto isDescendant = [&](const std::u16string& feature, const std::u16string& of) {
        for (const std::u16string& ancestor : ancestors(feature)) {
            if (ancestor == of) return true;
        }
        return false;
    };
    const auto levelOf = [&](const std::u16string& feature) {
        const auto it = selection.featureLevels.find(feature);
        return it == selection.featureLevels.end() ? 0 : it->second;
    };
    const auto available = [&](const std::u16string& feature) {
        if (levelOf(feature) <= 0) return false;
        for (const std::u16string& ancestor : ancestors(feature)) {
            if (levelOf(ancestor) <= 0) return false;
        }
        return true;
    };

    std::map<std::u16string, int> requested;
    if (request.addLocal.empty() && request.remove.empty() && request.reinstall.empty()) {
        if (request.installedFeatures.empty()) {
            for (const FeatureRow& row : tables.features) {
                bool selected = available(row.feature) && levelOf(row.feature) <= request.installLevel;
                for (const std::u16string& ancestor : ancestors(row.feature)) {
                    selected = selected && levelOf(ancestor) <= request.installLevel;
                }
                if (selected) requested[row.feature] = kInstallStateLocal;
            }
        }
    } else {
        // ADDLOCAL first, then REMOVE, then REINSTALL, as Windows Installer
        // orders them. A feature comes with its parents, unless level 0
        // disables it.
        const std::vector<std::u16string> add = SplitList(request.addLocal, u',');
        for (const FeatureRow& row : tables.features) {
            if (!available(row.feature)) continue;
            for (const std::u16string& name : add) {
                if (name == u"ALL" || name == row.feature || (available(name) && isDescendant(name, row.feature))) {
                    requested[row.feature] = kInstallStateLocal;
                }
            }
        }
        const std::vector<std::u16string> remove = SplitList(request.remove, u',');
        for (const FeatureRow& row : tables.features) {
            for (const std::u16string& name : remove) {
                if (name == u"ALL" || name == row.feature || isDescendant(row.feature, name)) {
                    requested[row.feature] = kInstallStateAbsent;
                }
            }
        }
        // Only what is installed is installed again; names are case-sensitive.
        const std::vector<std::u16string> reinstall = SplitList(request.reinstall, u',');
        for (const FeatureRow& row : tables.features) {
            if (request.installedFeatures.count(row.feature) == 0) continue;
            for (const std::u16string& name : reinstall) {
                if (name == u"ALL" || name == row.feature) {
                    requested.erase(row.feature);
                    selection.reinstalled.insert(row.feature);
                }
            }
        }
    }

    for (const FeatureRow& row : tables.features) {
        ItemState state;
        state.installed =
            request.installedFeatures.count(row.feature) != 0 ? kInstallStateLocal : kInstallStateAbsent;
        const auto it = requested.find(row.feature);
        if (it != requested.end() && it->second != state.installed) state.action = it->second;
        if (selection.reinstalled.count(row.feature) != 0) state.action = kInstallStateLocal;
        selection.features[row.feature] = state;
    }

    std::map<std::u16string, std::vector<std::u16string>> featuresOf;
    for (const FeatureComponentRow& row : tables.featureComponents) featuresOf[row.component].push_back(row.feature);
    for (const ComponentRow& row : tables.components) {
        ItemState state;
        state.installed =
            request.installedComponents.count(row.component) != 0 ? kInstallStateLocal : kInstallStateAbsent;
        bool installing = false;    // a feature that holds it is installed, asked for, or installed again
        bool reinstalling = false;  // a feature that holds it is installed again
        bool staying = false;       // a feature that holds it is there afterwards
        for (const std::u16string& feature : featuresOf[row.component]) {
            const auto it = selection.features.find(feature);
            if (it == selection.features.end()) continue;
            const auto request = requested.find(feature);
            installing = installing || it->second.action == kInstallStateLocal ||
                         (request != requested.end() && request->second == kInstallStateLocal);
            reinstalling = reinstalling || selection.reinstalled.count(feature) != 0;
            staying = staying || IsFinallyInstalled(it->second);
        }
        if (state.installed == kInstallStateLocal) {
            if (!staying) {
                state.action = kInstallStateAbsent;
            } else if (reinstalling) {
                state.action = kInstallStateLocal;
            }
        } else if (installing) {
            const int condition = row.condition.empty() ? kMsiConditionNone : evaluate(row.condition);
            if (condition == kMsiConditionTrue || condition == kMsiConditionNone) state.action = kInstallStateLocal;
        }
        selection.components[row.component] = state;
    }
    return selection;
}

std::vector<std::u16string> InstalledAfter(const std::map<std::u16string, ItemState>& states) {
    std::vector<std::u16string> names;
    for (const auto& [name, state] : states) {
        if (IsFinallyInstalled(state)) names.push_back(name);
    }
    return names;
}

void ApplyToSession(const PackageTables& tables, const std::map<std::u16string, std::u16string>& directories,
                    const Selection& selection, InstallerSession* session) {
    for (const auto& [directory, path] : directories) session->SetProperty(directory, path);
    std::map<std::u16string, std::u16string> componentPath;
    for (const ComponentRow& row : tables.components) {
        const auto it = directories.find(row.directory);
        if (it == directories.end()) continue;
        componentPath[row.component] = it->second;
        session->SetComponentDirectory(row.component, it->second);
    }
    for (const FileRow& row : tables.files) {
        const auto it = componentPath.find(row.component);
        if (it == componentPath.end()) continue;
        session->SetFilePath(row.file, it->second + LongTargetName(row.fileName),
                             it->second + ShortTargetName(row.fileName));
    }
    for (const auto& [feature, state] : selection.features) session->SetFeatureState(feature, state);
    for (const auto& [component, state] : selection.components) session->SetComponentState(component, state);
}

}  // namespace platform::posix
