// A child program for the task runner's tests; each mode exercises one way a child uses its streams.
//
//   child_streams flood-stderr N   writes N bytes to standard error before it reads any input, then
//                                  copies standard input to standard output
//   child_streams signals          prints how SIGPIPE and SIGCHLD are handled and how many signals
//                                  are blocked, e.g. "SIGPIPE=default SIGCHLD=default blocked=0"
//   child_streams pipes            prints how many pipes above the standard streams it inherited

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int floodStandardErrorThenEcho(size_t count) {
    const std::string block(64 * 1024, 'e');
    while (count > 0) {
        const size_t length = count < block.size() ? count : block.size();
        if (!writeAll(STDERR_FILENO, block.data(), length))
            return 2;
        count -= length;
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 3;
        if (n == 0)
            return 0;
        if (!writeAll(STDOUT_FILENO, buffer, static_cast<size_t>(n)))
            return 4;
    }
}

const char* disposition(int signal) {
    struct sigaction action {};
    ::sigaction(signal, nullptr, &action);
    if (action.sa_handler == SIG_DFL)
        return "default";
    if (action.sa_handler == SIG_IGN)
        return "ignored";
    return "handled";
}

int printSignals() {
    sigset_t mask;
    ::sigprocmask(SIG_BLOCK, nullptr, &mask);
    int blocked = 0;
    for (int signal = 1; signal < NSIG; ++signal)
        blocked += sigismember(&mask, signal) == 1 ? 1 : 0;
    std::printf("SIGPIPE=%s SIGCHLD=%s blocked=%d\n", disposition(SIGPIPE), disposition(SIGCHLD), blocked);
    return 0;
}

int printInheritedPipes() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return 2;
    const int own = ::dirfd(dir);
    int pipes = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        struct stat info {};
        if (fd > STDERR_FILENO && fd != own && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode))
            ++pipes;
    }
    ::closedir(dir);
    std::printf("%d\n", pipes);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "flood-stderr" && argc > 2)
        return floodStandardErrorThenEcho(std::strtoull(argv[2], nullptr, 10));
    if (mode == "signals")
        return printSignals();
    if (mode == "pipes")
        return printInheritedPipes();
    std::fprintf(stderr, "usage: child_streams flood-stderr N | signals | pipes\n");
    return 64;
}
