// What Windows Installer works out from a package before it changes anything:
// where the directories of the Directory table go, which features and
// components an installation turns on or off, and the standard properties a
// session starts with. trellis-host runs a package on this model; the
// installer session then answers conditions (?C $C !F &F) and formatted text
// ([#File] [$Comp]) from it.
//
// The machine it stands for is a 64-bit Windows with drive C:, so a 32-bit
// package sees ProgramFilesFolder as C:\Program Files (x86)\.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/msi/InstallerContext.h"

namespace platform::posix {

class InstallerSession;

struct DirectoryRow {
    std::u16string directory;
    std::u16string parent;  // empty for a root
    std::u16string defaultDir;
};

struct FeatureRow {
    std::u16string feature;
    std::u16string parent;
    int level = 0;
};

struct ComponentRow {
    std::u16string component;
    std::u16string directory;
    std::u16string condition;
};

struct FeatureComponentRow {
    std::u16string feature;
    std::u16string component;
};

struct FileRow {
    std::u16string file;
    std::u16string component;
    std::u16string fileName;
};

// A row of the Condition table: the feature's level when the condition is true.
struct FeatureConditionRow {
    std::u16string feature;
    int level = 0;
    std::u16string condition;
};

struct PackageTables {
    std::vector<DirectoryRow> directories;
    std::vector<FeatureRow> features;
    std::vector<ComponentRow> components;
    std::vector<FeatureComponentRow> featureComponents;
    std::vector<FileRow> files;
    std::vector<FeatureConditionRow> featureConditions;
};

// The tables of the session's package; a table the package lacks stays empty.
PackageTables ReadPackageTables(const InstallerSession& session);

// The names of a list such as ADDLOCAL ("A, B") or MsiHiddenProperties
// ("A;B"): the pieces between separators, spaces around them trimmed,
// empty ones dropped.
std::vector<std::u16string> SplitList(const std::u16string& text, char16_t separator);

// A folder path as the installer gives it: ending in a backslash, unless empty.
std::u16string WithBackslash(std::u16string path);

// The target name in a DefaultDir or FileName value: the part before a colon
// ("target:source"), and of "short|long" the long or the short name. In a
// DefaultDir, "." means the parent directory itself.
std::u16string LongTargetName(const std::u16string& value);
std::u16string ShortTargetName(const std::u16string& value);

// A property's value; empty when unset.
using PropertyLookup = std::function<std::u16string(const std::u16string&)>;

// The target path of every directory, each ending in a backslash. A directory
// whose own name is a property that is set (TARGETDIR, INSTALLDIR given on the
// command line, the system folders) resolves to that value; a root otherwise
// to ROOTDRIVE; any other directory to its parent's path plus its target name.
// Rows that cannot be resolved (unknown parent, a loop) are left out and
// described in *problems.
std::map<std::u16string, std::u16string> ResolveDirectories(const std::vector<DirectoryRow>& rows,
                                                            const PropertyLookup& property,
                                                            std::vector<std::u16string>* problems);

// The properties a session starts with: ROOTDRIVE, the system folders
// (ProgramFilesFolder, CommonAppDataFolder, AppDataFolder, ...), the Windows
// version and the user. perMachine (ALLUSERS set) moves the shell folders
// (DesktopFolder, ProgramMenuFolder, ...) to their all-users places.
std::map<std::u16string, std::u16string> StandardProperties(const std::u16string& userName, bool perMachine);

// What an installation asks of the features.
struct SelectionRequest {
    int installLevel = 1;            // INSTALLLEVEL
    std::u16string addLocal;         // ADDLOCAL: "ALL" or a comma-separated list
    std::u16string remove;           // REMOVE: "ALL" or a comma-separated list
    std::u16string reinstall;        // REINSTALL: "ALL" or a comma-separated list
    std::set<std::u16string> installedFeatures;    // of this product, from earlier runs
    std::set<std::u16string> installedComponents;
};

struct Selection {
    std::map<std::u16string, ItemState> features;
    std::map<std::u16string, ItemState> components;
    std::map<std::u16string, int> featureLevels;  // after the Condition table
    std::set<std::u16string> reinstalled;         // features that REINSTALL names and that are installed
};

// MsiEvaluateCondition's answer (kMsiCondition*).
using ConditionEvaluator = std::function<int(const std::u16string&)>;

// The installed and action states of every feature and component, as
// CostFinalize leaves them. Without ADDLOCAL, REMOVE or REINSTALL a first
// installation selects the features whose level is between 1 and
// INSTALLLEVEL (and whose parent is selected), and a maintenance run changes
// nothing; ADDLOCAL adds the named features (and their parents), REMOVE takes
// the named ones (and their children) away, REINSTALL installs the named ones
// again in their state (only those installed already, so on a first
// installation it installs nothing); "ALL" names every feature. Level 0
// disables a feature and its children. A component that is not installed
// is installed when a feature that holds it is installed or asked for,
// unless its condition is false; an installed one is installed again with a
// feature that is, and removed with the last feature that holds it. An
// action state is kInstallStateUnknown where nothing changes, so a repaired
// feature and its installed components read Local as both installed and
// action state (?C=3 and $C=3).
Selection SelectFeatures(const PackageTables& tables, const SelectionRequest& request,
                         const ConditionEvaluator& evaluate);

// The features and components that are installed once the selection is carried out.
std::vector<std::u16string> InstalledAfter(const std::map<std::u16string, ItemState>& states);

// Hands the model to the session: directory properties, component
// directories, file paths, feature and component states.
void ApplyToSession(const PackageTables& tables, const std::map<std::u16string, std::u16string>& directories,
                    const Selection& selection, InstallerSession* session);

}  // namespace platform::posix
