// Fake password program: types a password that is not the test user's.
#include "fake_askpass.h"

#include <string>

int main(int argc, char* argv[]) {
    recordPrompt(argc, argv);
    const char* password = std::getenv("KEYLOFT_SUDO_TEST_PASSWORD");
    const std::string wrong = std::string("not-") + (password ? password : "");
    return answer(wrong.c_str());
}
