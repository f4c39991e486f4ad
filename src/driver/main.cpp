// Program entry: one batch run in the current folder; arguments are ignored.
#include "driver/run.h"

int main() { return pedseg::pedseg_main(); }
