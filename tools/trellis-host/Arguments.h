// The command line of trellis-host:
//
//   trellis-host install PACKAGE.msi --root DIR [--prop NAME=VALUE]... [--log FILE]
//                [--fail-at ACTION] [--fail-after ACTION] [--library [BINARY=]PATH]... [--diff]
//   trellis-host uninstall PACKAGE.msi --root DIR [the same options]
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct Options {
    bool uninstall = false;
    std::string package;
    std::string root;
    std::vector<std::pair<std::u16string, std::u16string>> properties;  // in command-line order
    std::string logFile;
    std::u16string failAt;
    // The action runs, and then counts as failed: a failure late in the
    // script, after a deferred action did its work.
    std::u16string failAfter;
    std::string library;  // for every Binary row the map does not name
    std::map<std::u16string, std::string> binaryLibraries;  // by the key of the Binary row
    bool diff = false;
};

// The arguments after the program name. False, with a one-line reason, for
// bad usage; "--help" gives false with an empty reason.
bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error);

std::string UsageText();

}  // namespace host
