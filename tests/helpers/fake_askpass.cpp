// The person at the password dialog, for the tests of administrator rights: records the prompt it was
// shown, then types the test user's password (KEYLOFT_SUDO_TEST_PASSWORD) or, built with
// FAKE_ASKPASS_CANCEL, presses Cancel. KEYLOFT_ASKPASS_LOG names the file each prompt is appended to, as
// "<byte count>\n<prompt>\n", so line feeds and trailing spaces in it can be checked exactly.

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    const char* prompt = argc > 1 ? argv[1] : "";
    if (const char* logPath = std::getenv("KEYLOFT_ASKPASS_LOG")) {
        if (FILE* log = std::fopen(logPath, "a")) {
            std::fprintf(log, "%zu\n%s\n", std::strlen(prompt), prompt);
            std::fclose(log);
        }
    }
#ifdef FAKE_ASKPASS_CANCEL
    return 1;
#else
    const char* password = std::getenv("KEYLOFT_SUDO_TEST_PASSWORD");
    return password && std::printf("%s\n", password) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
#endif
}
