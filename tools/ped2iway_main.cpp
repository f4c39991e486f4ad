// ped2iway: pedigree file to iway.dat, trait file and id map.
#include "ped2iway.h"

int main(int argc, char** argv) { return pedseg::tools::ped2iway_main({argv + 1, argv + argc}); }
