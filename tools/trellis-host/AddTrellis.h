// trellis-host add: makes an existing package use Trellis.
//
//   trellis-host add PACKAGE.msi --dll PATH [--tables DIR]
//
// Creates the six Trellis tables where the package lacks them and imports
// the rows of DIR/*.idt (the same columns as tables/*.idt; a row whose key
// is there already is replaced); puts the DLL in as the Binary row
// TrellisDll; adds the custom actions and the two sequence rows; adds Error
// rows 4110 to 4119 where the package has no wording of its own. What is
// already as it should be is left alone, so a second run changes nothing,
// not even the file. The package is written to a new file that replaces it
// only once everything succeeded.
//
// Exit status: 0 on success (one line on stdout per change), 1 on failure
// with one line on stderr, 2 for bad usage.
#pragma once

#include <string>
#include <vector>

namespace host {

struct AddOptions {
    std::string package;
    std::string dll;
    std::string tables;  // empty: no rows to import
};

// What changed, one line each (empty when nothing had to); false with a
// one-line reason when the package is left as it was.
bool AddTrellis(const AddOptions& options, std::vector<std::string>* changes, std::string* error);

// The arguments after "add"; returns the exit status.
int RunAddCommand(const std::vector<std::string>& args);

// The usage lines of check and add, for trellis-host --help.
std::string PackageToolsUsage();

}  // namespace host
