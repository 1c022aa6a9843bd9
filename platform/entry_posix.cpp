// The entry point where arguments are bytes already: handed on as they are.
#include "program_entry.h"

int main(int argc, char** argv) { return ProgramMain(argc, argv); }
