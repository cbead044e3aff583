// trellis-host: runs an installer package on Linux, over the POSIX stand-ins
// for Windows Installer, the registry and drive C:. See README.md.
//
// Exit status: 0 when the run succeeded, 1 when the installation failed (the
// one line on stderr names the Windows result, e.g. 1603), 2 for bad usage or
// a package that cannot be read.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "AddTrellis.h"
#include "Arguments.h"
#include "InstallLog.h"
#include "Installation.h"
#include "PackageCheck.h"
#include "TreeDiff.h"
#include "platform/Strings.h"
#include "platform/posix/Sandbox.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int UsageError(const std::string& message) {
    std::cerr << "trellis-host: " << message << " (trellis-host --help shows the usage)\n";
    return kExitUsage;
}

bool MakeDirectories(const std::string& path) {
    for (std::size_t at = path.find('/', 1); ; at = path.find('/', at + 1)) {
        const std::string prefix = path.substr(0, at);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) break;
    }
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Absolute(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// The library this build of trellis-host was built with: it lies beside
// the program in the build tree.
std::string DefaultLibrary() {
    std::string self = Absolute("/proc/self/exe");
    const std::size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" TRELLIS_HOST_LIBRARY_NAME;
}

bool IsReadableFile(const std::string& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

// Installer packages are OLE compound files; checking the signature first
// spares libmsi's own complaints about other files.
bool HasPackageSignature(const std::string& path) {
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const std::size_t read = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return read == sizeof head && std::equal(head, head + sizeof head, kSignature);
}

// Shows which action is running: on a terminal as a status line that each
// action overwrites; otherwise one line on stderr whenever an action has run
// for another ten seconds.
class Progress {
public:
    Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {
        if (!terminal_) watcher_ = std::thread([this] { Watch(); });
    }
    ~Progress() { Stop(); }

    void Action(const std::u16string& action) {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = strings::ToUtf8(action);
        started_ = Clock::now();
        nextReport_ = started_ + kReportEvery;
        if (terminal_) {
            std::fprintf(stderr, "\r\033[Ktrellis-host: %s", current_.c_str());
            std::fflush(stderr);
            shown_ = true;
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_) return;
            stopped_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        if (terminal_ && shown_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kReportEvery{10};

    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopped_) {
            wake_.wait_for(lock, std::chrono::seconds(1));
            const Clock::time_point now = Clock::now();
            if (!stopped_ && !current_.empty() && now >= nextReport_) {
                const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
                std::fprintf(stderr, "trellis-host: still running %s (%lld s)\n", current_.c_str(),
                             static_cast<long long>(seconds));
                nextReport_ = now + kReportEvery;
            }
        }
    }

    const bool terminal_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread watcher_;
    std::string current_;
    Clock::time_point started_;
    Clock::time_point nextReport_;
    bool shown_ = false;
    bool stopped_ = false;
};

std::string Explain(std::uint32_t result) {
    switch (result) {
    case 1602: return " (cancelled)";
    case 1603: return " (a fatal error during installation)";
    case 1605: return " (the product is not installed in this root)";
    default: return "";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "check") return host::RunCheckCommand({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "add") return host::RunAddCommand({args.begin() + 1, args.end()});
    host::Options options;
    std::string error;
    if (!host::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        if (!error.empty()) return UsageError(error);
        std::cout << host::UsageText() << host::PackageToolsUsage();
        return 0;
    }
    if (!IsReadableFile(options.package)) return UsageError("cannot read the package " + options.package);
    if (!HasPackageSignature(options.package)) {
        return UsageError("cannot read the package " + options.package + ": it is not an installer database");
    }
    if (!MakeDirectories(options.root)) return UsageError("cannot create the root folder " + options.root);
    options.root = Absolute(options.root);
    ::mkdir((options.root + "/C").c_str(), 0777);
    std::string library = options.library.empty() ? DefaultLibrary() : options.library;
    if (!options.library.empty() && !IsReadableFile(library)) {
        return UsageError("cannot read the library " + options.library);
    }
    library = Absolute(library);
    for (auto& [binary, path] : options.binaryLibraries) {
        if (!IsReadableFile(path)) return UsageError("cannot read the library " + path);
        path = Absolute(path);
    }

    host::InstallLog log(options.logFile);
    if (!log.Start()) return UsageError("cannot write the log file " + options.logFile);
    std::set<std::string> skip;
    if (log.Enabled()) {
        options.logFile = Absolute(options.logFile);
        log = host::InstallLog(options.logFile);
        skip.insert(options.logFile);
    }
    host::TreeSnapshot before;
    if (options.diff) before = host::SnapshotTree(options.root, skip);

    // The library may carry its own copy of the sandbox code; the variable
    // points that copy at the same root.
    platform::posix::SetSandboxRoot(options.root);
    ::setenv("TRELLIS_SANDBOX_ROOT", options.root.c_str(), 1);

    host::Installation installation(options, log, library);
    if (!installation.Open(&error)) return UsageError(error);
    if (!options.failAt.empty() && !installation.KnowsAction(options.failAt)) {
        return UsageError("--fail-at names " + strings::ToUtf8(options.failAt) +
                          ", which is neither in the package nor a standard action");
    }
    if (!options.failAfter.empty() && !installation.KnowsAction(options.failAfter)) {
        return UsageError("--fail-after names " + strings::ToUtf8(options.failAfter) +
                          ", which is neither in the package nor a standard action");
    }

    Progress progress;
    installation.OnAction([&progress](const std::u16string& action) { progress.Action(action); });
    const std::uint32_t result = installation.Run();
    progress.Stop();

    if (options.diff) std::cout << host::DiffTrees(before, host::SnapshotTree(options.root, skip)) << std::flush;
    if (result == 0) return 0;
    std::cerr << "trellis-host: " << (options.uninstall ? "uninstall" : "installation") << " failed with error "
              << result << Explain(result)
              << (log.Enabled() ? "; the log is " + options.logFile : std::string("; --log FILE shows why"))
              << "\n";
    return kExitFailed;
}
