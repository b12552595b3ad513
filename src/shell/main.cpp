#include "shell/options.h"

int main(int argc, char** argv) {
    runProgram(argc, argv);
}
