// mosaiq: unpacks a GMF file into a folder of tile images and writes a KML
// super-overlay for it. The run itself is in run.cpp.
#include "run.h"

int main(int argc, char** argv) { return mosaiq_run(argc, argv); }
