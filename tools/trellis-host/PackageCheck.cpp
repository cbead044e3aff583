#include "PackageCheck.h"

#include <iostream>

#include "CheckRules.h"
#include "PackageFile.h"

namespace host {

std::string FormatFinding(const Finding& finding) {
    std::string line = finding.error ? "error: " : "warning: ";
    line += finding.table + "." + finding.column;
    if (!finding.row.empty()) line += " of row '" + finding.row + "'";
    return line + " " + finding.message;
}

bool CheckPackage(const std::string& path, std::vector<Finding>* findings, std::string* error) {
    findings->clear();
    std::string reason = WhyNotAPackage(path);
    if (!reason.empty()) {
        *error = "cannot read the package " + path + ": " + reason;
        return false;
    }
    const std::unique_ptr<PackageFile> package = PackageFile::Open(path, &reason);
    if (!package) {
        *error = "cannot read the package " + path + ": " + reason;
        return false;
    }
    *findings = CheckPackage(*package);
    return true;
}

std::vector<Finding> CheckPackage(const PackageFile& package) {
    const check::PackageTables tables(package);
    const check::PackageIndex index(tables);
    check::Findings found;
    check::CheckXmlTables(tables, index, found);
    check::CheckLocatorTables(tables, index, found);
    check::CheckWiring(tables, index, found);
    return found.Sorted();
}

int RunCheckCommand(const std::vector<std::string>& args) {
    constexpr int kExitFound = 1;
    constexpr int kExitUsage = 2;
    std::string package;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << "usage: trellis-host check PACKAGE.msi\n";
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "trellis-host: unknown option " << arg << " for check (trellis-host --help shows the usage)\n";
            return kExitUsage;
        }
        if (!package.empty()) {
            std::cerr << "trellis-host: check takes one package, not '" << package << "' and '" << arg << "'\n";
            return kExitUsage;
        }
        package = arg;
    }
    if (package.empty()) {
        std::cerr << "trellis-host: check needs a package (trellis-host --help shows the usage)\n";
        return kExitUsage;
    }
    std::vector<Finding> findings;
    std::string error;
    if (!CheckPackage(package, &findings, &error)) {
        std::cerr << "trellis-host: " << error << "\n";
        return kExitUsage;
    }
    bool failed = false;
    for (const Finding& finding : findings) {
        std::cout << FormatFinding(finding) << "\n";
        failed = failed || finding.error;
    }
    std::cout << std::flush;
    return failed ? kExitFound : 0;
}

}  // namespace host
