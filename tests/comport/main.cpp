#include "tests/support/ProgramEnvironment.h"

int main(int argc, char** argv) { return test::RunInProgramEnvironment(argc, argv, "comport"); }
