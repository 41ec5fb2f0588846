// Fake password program: types the test user's password (KEYLOFT_SUDO_TEST_PASSWORD).
#include "fake_askpass.h"

int main(int argc, char* argv[]) {
    recordPrompt(argc, argv);
    const char* password = std::getenv("KEYLOFT_SUDO_TEST_PASSWORD");
    return password ? answer(password) : 1;
}
