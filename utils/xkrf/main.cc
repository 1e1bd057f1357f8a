#include <cstdio>

#include "xkrf/xkrf.h"

int main(int argc, char** argv) { return xkrf::RunXkrf(argc, argv, stdout); }
