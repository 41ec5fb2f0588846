// The person at the password dialog: appends "<byte count>\n<prompt>\n" to KEYLOFT_ASKPASS_LOG (so line
// feeds and trailing spaces show), then types KEYLOFT_SUDO_TEST_PASSWORD or, built so, presses Cancel.

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
    const char* prompt = argc > 1 ? argv[1] : "";
    const char* logPath = std::getenv("KEYLOFT_ASKPASS_LOG");
    if (FILE* log = logPath ? std::fopen(logPath, "a") : nullptr) {
        std::fprintf(log, "%zu\n%s\n", std::strlen(prompt), prompt);
        std::fclose(log);
    }
#ifdef FAKE_ASKPASS_CANCEL
    return 1;
#else
    const char* password = std::getenv("KEYLOFT_SUDO_TEST_PASSWORD");
    return password && std::printf("%s\n", password) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
#endif
}
