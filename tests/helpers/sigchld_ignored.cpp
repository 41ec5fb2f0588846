// Starts a program with SIGCHLD ignored, as some launchers and shells do (the setting survives exec):
//   sigchld_ignored PROGRAM [ARGUMENTS...]

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc < 2)
        return 2;
    std::signal(SIGCHLD, SIG_IGN);
    ::execv(argv[1], argv + 1);
    std::perror("sigchld_ignored");
    return 127;
}
