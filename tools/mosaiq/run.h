// The whole mosaiq run, callable from main and from the fuzz target.
#pragma once

// Runs the converter on its command line (argv[0] is the program name).
// @return the exit status: 0 success, 2 wrong argument count, 1 any failure.
int mosaiq_run(int argc, char** argv);
