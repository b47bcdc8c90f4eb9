#include "run_sequence.h"

int main(int argc, char** argv) { return vexlo::run_sequence(argc, argv); }
