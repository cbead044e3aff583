#include "platform/posix/Icacls.h"

#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/posix/AccessRules.h"
#include "platform/posix/CaseFolding.h"

namespace platform::posix {
namespace {

constexpr std::uint32_t kErrorInvalidAcl = 1336;
constexpr std::uint32_t kErrorBadCommandLine = 87;  // ERROR_INVALID_PARAMETER

// The command line split as Windows programs split it, for what icacls
// needs: blanks separate arguments except inside double quotes.
std::vector<std::u16string> SplitArguments(const std::u16string& line) {
    std::vector<std::u16string> arguments;
    std::u16string current;
    bool quoted = false, pending = false;
    for (char16_t c : line) {
        if (c == u'"') {
            quoted = !quoted;
            pending = true;
        } else if ((c == u' ' || c == u'\t') && !quoted) {
            if (pending) arguments.push_back(current);
            current.clear();
            pending = false;
        } else {
            current.push_back(c);
            pending = true;
        }
    }
    if (pending) arguments.push_back(current);
    return arguments;
}

std::u16string NameOf(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool ReadAll(const std::u16string& path, std::string* bytes) {
    File file = File::OpenForRead(path);
    if (!file.IsOpen()) return false;
    char buffer[4096];
    for (;;) {
        std::uint32_t read = 0;
        if (!file.Read(buffer, sizeof buffer, &read)) return false;
        if (read == 0) return true;
        bytes->append(buffer, read);
    }
}

std::u16string DecodeList(const std::string& bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t start = 0;
    bool utf16 = bytes.size() >= 2 && byte(1) == 0 && byte(0) != 0;
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        utf16 = true;
        start = 2;
    } else if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        return strings::FromUtf8(bytes.substr(3));
    }
    if (!utf16) return strings::FromUtf8(bytes);
    std::u16string text;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(byte(i) | (byte(i + 1) << 8)));
    }
    return text;
}

std::vector<std::u16string> NonEmptyLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::u16string current;
    for (char16_t c : text) {
        if (c == u'\r' || c == u'\n') {
            if (!current.empty()) lines.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

// Runs over the files of one command, keeping icacls' result rules.
class Run {
public:
    explicit Run(bool continueOnError) : continueOnError_(continueOnError) {}

    // False when the run must stop.
    bool Failed(std::uint32_t error) {
        result_ = error != 0 ? error : kErrorBadCommandLine;
        return continueOnError_;
    }
    std::uint32_t Result() const { return result_; }

private:
    bool continueOnError_;
    std::uint32_t result_ = 0;
};

std::uint32_t Save(const std::u16string& object, const std::u16string& listPath, Run& run) {
    File list = File::Create(listPath);
    if (!list.IsOpen()) return GetLastError();
    std::vector<AccessEntry> entries;
    if (!ReadAccessRules(object, &entries)) {
        run.Failed(GetLastError());
        return run.Result();
    }
    // icacls writes its lists in UTF-16LE without byte order mark.
    const std::string bytes = strings::ToUtf16Le(NameOf(object) + u"\r\n" + FormatAccessList(entries) + u"\r\n");
    if (!list.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()))) return GetLastError();
    return run.Result();
}

std::uint32_t Restore(const std::u16string& folder, const std::u16string& listPath, Run& run) {
    std::string bytes;
    if (!ReadAll(listPath, &bytes)) return GetLastError();
    const std::vector<std::u16string> lines = NonEmptyLines(DecodeList(bytes));
    if (lines.size() % 2 != 0) return kErrorInvalidAcl;
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        std::vector<AccessEntry> entries;
        if (!ParseAccessList(lines[i + 1], &entries)) {
            if (!run.Failed(kErrorInvalidAcl)) break;
            continue;
        }
        const std::u16string target = folder.empty() ? lines[i] : folder + u"\\" + lines[i];
        if (!WriteAccessRules(target, entries) && !run.Failed(GetLastError())) break;
    }
    return run.Result();
}

std::uint32_t Reset(const std::u16string& object, Run& run) {
    std::vector<AccessEntry> entries;
    if (!ReadAccessRules(object, &entries) || !WriteAccessRules(object, {})) run.Failed(GetLastError());
    return run.Result();
}

}  // namespace

std::uint32_t RunIcaclsStandIn(const std::u16string& parameters) {
    std::vector<std::u16string> arguments = SplitArguments(parameters);
    if (arguments.size() < 2) return kErrorBadCommandLine;
    bool continueOnError = false;
    std::vector<std::u16string> command;
    for (const std::u16string& argument : arguments) {
        if (EqualsIgnoreCase(argument, u"/C")) {
            continueOnError = true;
        } else if (EqualsIgnoreCase(argument, u"/Q") || EqualsIgnoreCase(argument, u"/L")) {
            // Quiet output and links as links: nothing to do here.
        } else {
            command.push_back(argument);
        }
    }
    Run run(continueOnError);
    if (command.size() == 3 && EqualsIgnoreCase(command[1], u"/save")) return Save(command[0], command[2], run);
    if (command.size() == 3 && EqualsIgnoreCase(command[1], u"/restore")) return Restore(command[0], command[2], run);
    if (command.size() == 2 && EqualsIgnoreCase(command[1], u"/reset")) return Reset(command[0], run);
    return kErrorBadCommandLine;
}

}  // namespace platform::posix
