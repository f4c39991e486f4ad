// pedsim: simulated pedigree samples under the segregation model.

#include <cstdio>
#include <string>
#include <vector>

#include "pedsim.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args)
    if (a == "--version") {
      std::fputs("pedsim " PEDSEG_VERSION "\n", stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  std::string out, err;
  int status = pedseg::tools::run_pedsim(args, out, err);
  std::fputs(err.c_str(), stderr);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    std::fputs("pedsim: cannot write the standard output\n", stderr);
    if (status == 0) status = 2;
  }
  return status;
}
