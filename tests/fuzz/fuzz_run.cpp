// A whole run on a tiny folder built from the input: the parts separated by
// a line "%%" become par.inp, iway.dat and trait.dat (fewer parts leave the
// later files missing).  The run happens in a private temporary folder that
// also holds stale max.dat and sigma.dat files.
//
// Promises checked: an input error names one of the files; no file is left
// open, whichever way the run ends; neither an input
// error, a size stop nor an early stop at an impossible start changes the
// stale results; a completed run writes the 18 lines of sigma.dat and the
// closing console line.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "fuzz_support.h"

using namespace pedseg;
using pedseg::fuzz::check;

namespace {

const char* const STALE = "stale result of an earlier run\n";

void write_file(const char* name, const std::string& text) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << text;
  check(static_cast<bool>(out), "cannot write a file of the scratch folder", name);
}

bool read_file(const char* name, std::string& text) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

bool unchanged(const char* name) {
  std::string text;
  return read_file(name, text) && text == STALE;
}

char scratch[] = "/tmp/pedseg-fuzz-run-XXXXXX";

const char* const FILES[] = {"par.inp", "iway.dat", "trait.dat", "par.err", "max.dat", "sigma.dat"};

void remove_scratch_folder() {
  for (const char* name : FILES) std::remove(name);
  if (chdir("/") == 0) rmdir(scratch);
}

void enter_scratch_folder() {
  static bool done = false;
  if (done) return;
  check(mkdtemp(scratch) != nullptr, "cannot create the scratch folder");
  check(chdir(scratch) == 0, "cannot enter the scratch folder");
  std::atexit(remove_scratch_folder);
  done = true;
}

// Open file descriptors of the process.
int open_files() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

RunTables& tables() {
  static RunTables* t = new RunTables;
  return *t;
}

// Back to the state at program start, clearing only what a run can write.
void reset(RunTables& t) {
  t.par = ParamTable{};
  t.model = ModelQuantities{};
  t.poly = PolyTables{};
  fuzz::reset_pedigree(*t.ped);
  t.search = SearchResults{};
  t.NMEAS = 0;
  t.NSPIKE = 0;
  t.INIT_LH = 0.0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_scratch_folder();
  const std::string input = fuzz::as_text(data, size);
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = input.find("\n%%\n", from);
    if (at == std::string::npos || parts.size() == 2) {
      parts.push_back(input.substr(from));
      break;
    }
    parts.push_back(input.substr(from, at + 1 - from));
    from = at + 4;
  }
  const char* const names[3] = {"par.inp", "iway.dat", "trait.dat"};
  for (const char* name : FILES) std::remove(name);
  for (size_t k = 0; k < parts.size(); ++k) write_file(names[k], parts[k]);
  write_file("max.dat", STALE);
  write_file("sigma.dat", STALE);

  RunTables& t = tables();
  reset(t);
  std::string console_text, diagnostics_text;
  OutputFile console = output_memory(console_text, "standard output");
  OutputFile diagnostics = output_memory(diagnostics_text, "standard error");

  const int files_before = open_files();
  try {
    run_analysis(t, console, diagnostics);
  } catch (const InputError& e) {
    const std::string trait_name = trait_file_name(t.par);
    const bool named = e.message.find("par.inp") != std::string::npos ||
                       e.message.find("iway.dat") != std::string::npos ||
                       (!trait_name.empty() && e.message.find(trait_name) != std::string::npos);
    check(named, "an input error does not name its file", e.message);
    check(open_files() == files_before, "a file is left open after an input error");
    check(unchanged("max.dat") && unchanged("sigma.dat"), "an input error changed the results");
    return 0;
  } catch (const SizeStop& e) {
    check(e.message.find("exceed. Correct and recompile") != std::string::npos,
          "size stop without its message", e.message);
    check(unchanged("max.dat") && unchanged("sigma.dat"), "a size stop changed the results");
    check(open_files() == files_before, "a file is left open after a size stop");
    return 0;
  } catch (const WriteError& e) {
    fuzz::fail("write error in the scratch folder", e.message);
  }

  check(open_files() == files_before, "a file is left open after a run");
  if (impossible_lh(t.INIT_LH)) {
    check(unchanged("max.dat") && unchanged("sigma.dat"), "an early stop changed the results");
    check(console_text.find("END OF PROGRAM") == std::string::npos, "early stop printed the end");
    return 0;
  }
  std::string sigma;
  check(read_file("sigma.dat", sigma), "sigma.dat missing after a completed run");
  size_t lines = 0;
  for (char c : sigma) lines += c == '\n';
  check(lines == 18, "sigma.dat does not have 18 lines", sigma);
  check(console_text.size() >= 26 &&
            console_text.compare(console_text.size() - 26, 26, " **** END OF PROGRAM ****\n") == 0,
        "a completed run did not end with the closing line", console_text);
  return 0;
}
