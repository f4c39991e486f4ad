// The pedseg-models program: parse the options, check them, load the sample,
// fit, write.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pedseg {

// The program: exit status 0, EXIT_INPUT_ERROR (also a usage error, as
// pedseg's), EXIT_SIZE_STOP, EXIT_WRITE_ERROR or EXIT_INTERNAL_ERROR as
// pedseg.
int models_main(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace pedseg
