// ped2iway: pedigree file to iway.dat, trait file and id map.

#include <cstdio>
#include <string>
#include <vector>

#include "ped2iway.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args)
    if (a == "--version") {
      std::fputs("ped2iway " PEDSEG_VERSION "\n", stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  std::string out, err;
  int status = pedseg::tools::run_ped2iway(args, out, err);
  std::fputs(err.c_str(), stderr);
  std::fputs(out.c_str(), stdout);
  if (std::fflush(stdout) != 0 && status == 0) status = 2;
  return status;
}
