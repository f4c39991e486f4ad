// The pedseg-models command: its options and the whole program.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "models/extras.h"
#include "models/models.h"

namespace pedseg {

struct CliSettings {
  std::string dir = ".";
  ModelsOptions models;
  ExtrasOptions extras;
  int32_t threads = 0;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// One option of the command line: `apply` takes the value (empty for a flag)
// and returns an error message, or "" when the value is accepted.
struct CliOption {
  const char* name;
  const char* value_name;  // nullptr: a flag without value
  const char* help;
  std::function<std::string(CliSettings&, const std::string&)> apply;
};

const std::vector<CliOption>& cli_options();
std::string cli_usage();

// Parses the arguments (without the program name); returns "" or the error.
std::string parse_cli(const std::vector<std::string>& args, CliSettings& settings);

// The program: exit status 0, EXIT_INPUT_ERROR (also a usage error, as
// pedseg's), EXIT_SIZE_STOP or EXIT_WRITE_ERROR as pedseg.
int models_main(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace pedseg
