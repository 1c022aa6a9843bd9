// Where each program starts. A program defines ProgramMain; the platform's
// own entry point calls it with the program's arguments as UTF-8, on
// Windows as on POSIX (where arguments are bytes, handed on as they are).
//
// On Windows the arguments are taken as UTF-16, as Windows holds them, so
// that every name the user types reaches the file functions as typed: the
// ANSI code page would turn characters it lacks into look-alikes or '?',
// and so into the names of other files.
#pragma once

int ProgramMain(int argc, char** argv);
