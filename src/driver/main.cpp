// Program entry: one batch run in the current folder, or in the folder named
// by the only argument.  --help and --version touch no file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "driver/run.h"
#include "textio/textio.h"

namespace {

const char* const USAGE =
    "usage: pedseg [DIR]\n"
    "\n"
    "Complex segregation analysis of one quantitative trait in pedigrees.\n"
    "Runs in the current folder, or in DIR (the same as cd DIR && pedseg): reads\n"
    "par.inp, iway.dat and the trait file named in par.inp; writes sigma.dat\n"
    "(results), max.dat (progress) and par.err (problems), and a report on the\n"
    "standard output.  OMP_NUM_THREADS=N sets the number of threads.\n"
    "\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "\n"
    "Exit status: 0 the run ended (also at an impossible starting point),\n"
    "2 an input error or a usage error, 3 a size limit exceeded, 4 an output\n"
    "file that cannot be written, 5 out of memory or an internal error.\n";

// Prints `text` on the standard output; a failed write is a write error.
int print(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fputs("pedseg: write error: cannot write to standard output\n", stderr);
    return pedseg::EXIT_WRITE_ERROR;
  }
  return 0;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "pedseg: %s; see pedseg --help\n", what.c_str());
  return pedseg::EXIT_INPUT_ERROR;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) return usage_error("more than one argument");
  if (argc == 2) {
    const std::string arg = argv[1];
    if (arg == "-h" || arg == "--help") return print(USAGE);
    if (arg == "--version") return print(std::string("pedseg ") + PEDSEG_VERSION + "\n");
    if (arg.empty()) return usage_error("an empty folder name");
    if (arg[0] == '-') return usage_error("unknown option " + arg);
    if (chdir(arg.c_str()) != 0) {
      std::fprintf(stderr, "pedseg: input error: cannot enter the folder %s: %s\n", arg.c_str(),
                   std::strerror(errno));
      return pedseg::EXIT_INPUT_ERROR;
    }
  }
  return pedseg::pedseg_main();
}
