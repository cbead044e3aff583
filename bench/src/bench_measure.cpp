// bench-measure: runs one program once and reports its wall-clock time,
// its processor time and its peak memory.
//
//   bench-measure [--timeout SECONDS] [--output FILE] -- PROGRAM [ARGS...]
//
// Prints one line: "wall=S cpu=S maxrss_kib=N status=X", where X is the
// exit status, "signal-N" or "timeout" (the program is killed after
// SECONDS). The peak memory is getrusage(RUSAGE_CHILDREN).ru_maxrss taken
// after the program ends; since this process runs nothing else, that is the
// program's own peak. The program's output goes to FILE (else /dev/null).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9; }

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

int Usage(const char* message) {
    std::fprintf(stderr,
                 "bench-measure: %s\nusage: bench-measure [--timeout SECONDS] [--output FILE] -- PROGRAM [ARGS...]\n",
                 message);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double timeout = 0;
    const char* output = "/dev/null";
    int first = 1;
    for (; first < argc && std::strcmp(argv[first], "--") != 0; ++first) {
        if (std::strcmp(argv[first], "--timeout") == 0 && first + 1 < argc) {
            timeout = std::atof(argv[++first]);
        } else if (std::strcmp(argv[first], "--output") == 0 && first + 1 < argc) {
            output = argv[++first];
        } else {
            return Usage("unknown option");
        }
    }
    if (first + 1 >= argc) return Usage("no program given");
    char** program = argv + first + 1;

    // SIGCHLD stays blocked so that sigtimedwait can wait for it with a
    // time limit and still return the moment the program ends.
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignal, nullptr);

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child < 0) return Usage(std::strerror(errno));
    if (child == 0) {
        sigprocmask(SIG_UNBLOCK, &childSignal, nullptr);
        setpgid(0, 0);
        const int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        execvp(program[0], program);
        std::fprintf(stderr, "bench-measure: cannot run %s: %s\n", program[0], std::strerror(errno));
        _exit(127);
    }

    bool timedOut = false;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (timeout > 0) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double left = timeout - (Seconds(now) - Seconds(start));
            if (left <= 0) {
                timedOut = true;
                kill(-child, SIGKILL);
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            timespec wait{static_cast<time_t>(left), static_cast<long>((left - static_cast<double>(static_cast<time_t>(left))) * 1e9)};
            sigtimedwait(&childSignal, nullptr, &wait);
        } else {
            sigwaitinfo(&childSignal, nullptr);
        }
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);

    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::string result;
    if (timedOut) {
        result = "timeout";
    } else if (WIFSIGNALED(status)) {
        result = "signal-" + std::to_string(WTERMSIG(status));
    } else {
        result = std::to_string(WEXITSTATUS(status));
    }
    std::printf("wall=%.6f cpu=%.6f maxrss_kib=%ld status=%s\n", Seconds(end) - Seconds(start),
                Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss, result.c_str());
    return 0;
}
