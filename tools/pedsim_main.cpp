// pedsim: simulated pedigree samples under the segregation model.
#include "pedsim.h"

int main(int argc, char** argv) { return pedseg::tools::pedsim_main({argv + 1, argv + argc}); }
