#include "Arguments.h"

#include "platform/Strings.h"

namespace host {

namespace {

// Property names as the Property table allows them: a letter or underscore,
// then letters, digits, underscores and periods.
bool IsPropertyName(const std::string& name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool other = (c >= '0' && c <= '9') || c == '.';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

// The key of a Binary row as "NAME=" in front of a library path.
bool IsBinaryKey(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '.';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string UsageText() {
    return "usage: trellis-host install PACKAGE.msi --root DIR [--prop NAME=VALUE]... [--log FILE]\n"
           "                    [--fail-at ACTION] [--fail-after ACTION] [--library [BINARY=]PATH]... [--diff]\n"
           "       trellis-host uninstall PACKAGE.msi --root DIR [the same options]\n";
}

bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error) {
    *options = Options();
    error->clear();
    if (args.empty()) {
        *error = "no command given (install or uninstall)";
        return false;
    }
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return false;
    }
    if (args[0] == "install") {
        options->uninstall = false;
    } else if (args[0] == "uninstall") {
        options->uninstall = true;
    } else {
        *error = "unknown command '" + args[0] + "' (install or uninstall)";
        return false;
    }

    bool haveRoot = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                inlineValue = true;
            }
        }
        const auto takeValue = [&](const char* what) {
            if (inlineValue) return true;
            if (i + 1 >= args.size()) {
                *error = arg + " needs " + what;
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--root") {
            if (!takeValue("a folder")) return false;
            if (value.empty()) {
                *error = "--root needs a folder";
                return false;
            }
            options->root = value;
            haveRoot = true;
        } else if (arg == "--prop") {
            if (!takeValue("NAME=VALUE")) return false;
            const std::size_t equals = value.find('=');
            const std::string name = value.substr(0, equals);
            if (equals == std::string::npos || !IsPropertyName(name)) {
                *error = "--prop needs NAME=VALUE with a property name, not '" + value + "'";
                return false;
            }
            options->properties.emplace_back(strings::FromUtf8(name),
                                             strings::FromUtf8(value.substr(equals + 1)));
        } else if (arg == "--log") {
            if (!takeValue("a file")) return false;
            options->logFile = value;
        } else if (arg == "--fail-at") {
            if (!takeValue("an action name")) return false;
            if (value.empty()) {
                *error = "--fail-at needs an action name";
                return false;
            }
            options->failAt = strings::FromUtf8(value);
        } else if (arg == "--fail-after") {
            if (!takeValue("an action name")) return false;
            if (value.empty()) {
                *error = "--fail-after needs an action name";
                return false;
            }
            options->failAfter = strings::FromUtf8(value);
        } else if (arg == "--library") {
            if (!takeValue("a path")) return false;
            const std::size_t equals = value.find('=');
            if (equals != std::string::npos && IsBinaryKey(value.substr(0, equals))) {
                options->binaryLibraries[strings::FromUtf8(value.substr(0, equals))] = value.substr(equals + 1);
            } else {
                options->library = value;
            }
        } else if (arg == "--diff" && !inlineValue) {
            options->diff = true;
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            *error = "unknown option " + args[i];
            return false;
        } else if (options->package.empty()) {
            options->package = arg;
        } else {
            *error = "more than one package given ('" + options->package + "' and '" + arg + "')";
            return false;
        }
    }
    if (options->package.empty()) {
        *error = "no package given";
        return false;
    }
    if (!haveRoot) {
        *error = "--root DIR is required";
        return false;
    }
    return true;
}

}  // namespace host
