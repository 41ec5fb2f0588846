#pragma once

// The person at the password dialog, for the tests of administrator rights: every fake password
// program records the prompt it was shown, then answers its own way.
//
// KEYLOFT_ASKPASS_LOG names the file each prompt is appended to, as "<byte count>\n<prompt>\n", so line
// feeds and trailing spaces in it can be checked exactly.

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void recordPrompt(int argc, char* argv[]) {
    const char* logPath = std::getenv("KEYLOFT_ASKPASS_LOG");
    if (!logPath)
        return;
    FILE* log = std::fopen(logPath, "a");
    if (!log)
        return;
    const char* prompt = argc > 1 ? argv[1] : "";
    std::fprintf(log, "%zu\n%s\n", std::strlen(prompt), prompt);
    std::fclose(log);
}

// Prints the answer and a line feed the way a password program must, and answers the exit code.
inline int answer(const char* text) {
    if (std::printf("%s\n", text) < 0 || std::fflush(stdout) != 0)
        return 1;
    return 0;
}
