#include "app/program_start.h"

int main(int argc, char** argv) {
    return vantorel::gui::runProgram(argc, argv);
}
