// Program entry: one batch run in the current folder, or in the folder named
// by the only argument.  --help and --version touch no file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "cli/cli.h"
#include "driver/run.h"
#include "textio/textio.h"

namespace {

const pedseg::cli::Program PEDSEG = {
    "pedseg",
    "Complex segregation analysis of one quantitative trait in pedigrees. Runs in the current "
    "folder, or in DIR (the same as cd DIR && pedseg): reads par.inp, iway.dat and the trait "
    "file named in par.inp; writes sigma.dat (results), max.dat (progress) and par.err "
    "(problems), and a report on the standard output.  OMP_NUM_THREADS=N sets the number of "
    "threads.",
    "Exit status: 0 the run ended (also at an impossible starting point), 2 an input error or "
    "a usage error, 3 a size limit exceeded, 4 an output file that cannot be written, 5 out of "
    "memory or an internal error.",
    pedseg::EXIT_INPUT_ERROR, pedseg::EXIT_WRITE_ERROR};

}  // namespace

int main(int argc, char** argv) {
  pedseg::cli::Command command(PEDSEG);
  std::string dir, out, err;
  command.app().add_option("DIR", dir, "the folder of the run (default: the current one)")
      ->check([](const std::string& d) { return d.empty() ? "an empty folder name" : ""; });
  if (const auto status = command.parse({argv + 1, argv + argc}, out, err))
    return pedseg::cli::finish(PEDSEG, *status, out, err);
  if (!dir.empty() && chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "pedseg: input error: cannot enter the folder %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    return pedseg::EXIT_INPUT_ERROR;
  }
  return pedseg::pedseg_main();
}
