// trellis-host check: the mistakes a package's Trellis tables and wiring
// can have, found before the package reaches a machine.
//
//   trellis-host check PACKAGE.msi
//
// Exit status: 0 when nothing is wrong (no output), 1 when at least one
// error was found, 2 for bad usage or a file that is not a readable package.
// Each finding is one line on stdout:
//
//   error: QM_XmlAttribute.Flags of row 'shopNameKey' has 16 (uninstallation) beside 1 and 2 ...
#pragma once

#include <string>
#include <vector>

namespace host {

struct Finding {
    bool error = true;  // else a warning, which does not fail the check
    std::string table;
    std::string row;     // the row's key; empty for what concerns the table itself
    std::string column;
    std::string message;
};

std::string FormatFinding(const Finding& finding);

class PackageFile;

// Every finding for the package, errors and warnings, ordered by table and
// row. False, with a reason, when the file cannot be read as a package.
bool CheckPackage(const std::string& path, std::vector<Finding>* findings, std::string* error);
std::vector<Finding> CheckPackage(const PackageFile& package);

// The arguments after "check"; returns the exit status.
int RunCheckCommand(const std::vector<std::string>& args);

}  // namespace host
