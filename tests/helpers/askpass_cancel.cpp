// Fake password program: the person presses Cancel.
#include "fake_askpass.h"

int main(int argc, char* argv[]) {
    recordPrompt(argc, argv);
    return 1;
}
