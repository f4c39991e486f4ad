#include "sample/sample.h"

#include <filesystem>
#include <vector>

#include "params/codes.h"

namespace pedseg {

namespace {

// The validator as a program uses it: every warning to `diagnostics` as
// "<program>: warning: ...", and an InputError listing every error.
void validate_or_reject(const PedigreeTables& ped, OutputFile& diagnostics,
                        const std::string& program) {
  std::vector<std::string> errors, warnings;
  bool ok = validate_pedigree(ped, errors, warnings);
  for (const std::string& w : warnings) write_text(diagnostics, program + ": warning: " + w + "\n");
  if (ok) return;
  std::string message = "the pedigree structure in iway.dat cannot be analysed:";
  for (const std::string& e : errors) message += "\n  " + e;
  throw InputError{message};
}

}  // namespace

void load_sample(SampleTables& s, const std::string& dir, OutputFile& diagnostics,
                 const std::string& program, const SampleHooks& hooks) {
  s.dir = dir;
  s.poly.NLOCI = 3;
  s.poly.NCLASS = 7;
  {
    InputFile par_inp = open_input(path_in(dir, "par.inp"));
    if (hooks.par_inp_open) hooks.par_inp_open();
    s.par.NPAR = NPAR_USED;
    std::string long_name;
    READ_PARAMETERS(par_inp, s.par, &long_name);
    if (!long_name.empty())
      write_text(diagnostics, program + ": warning: " + long_name_warning(long_name, s.par) + "\n");
  }
  BUILD_TRANS_POLY(s.poly);
  BUILD_POLY_PRIOR(s.poly);
  std::string dropped;
  OutputFile drop = output_memory(dropped, "console");
  READ_PEDIGREE(s.par.TRAIT_FILE_NAME, *s.ped, hooks.console ? *hooks.console : drop, dir);
  validate_or_reject(*s.ped, diagnostics, program);
  auto present = [&](const char* name) {
    std::error_code ec;
    return std::filesystem::exists(path_in(dir, name), ec);
  };
  s.layout = build_layout(*s.ped);
  s.loops.clear();
  if (present(LOOPS_FILE_NAME)) {
    InputFile file = open_input(path_in(dir, LOOPS_FILE_NAME));
    s.loops = read_loops(file, *s.ped, s.layout, hooks.max_breakers);
    s.layout = build_layout(*s.ped, s.loops);
  }
  // Measured and spike individuals (a spike individual counts in both).
  s.NMEAS = s.NSPIKE = 0;
  for (int32_t f = 1; f <= s.layout.nfam(); ++f)
    for (int32_t i = s.layout[f].start + 1; i <= s.layout[f].start + s.layout[f].size; ++i) {
      s.NMEAS += trait_counts_measured(s.ped->TRAIT[i]);
      s.NSPIKE += trait_counts_spike(s.ped->TRAIT[i]);
    }
  // The study's files, for the programs that ask for them.
  s.covariates.reset();
  s.proband.clear();
  if (hooks.read_covariates && present(COVARIATES_FILE_NAME)) {
    InputFile file = open_input(path_in(dir, COVARIATES_FILE_NAME));
    s.covariates = read_covariates(file, s.ped->NIND);
  }
  if (hooks.read_proband && present(PROBAND_FILE_NAME)) {
    InputFile file = open_input(path_in(dir, PROBAND_FILE_NAME));
    s.proband = read_probands(file, s.ped->NIND);
  }
}

}  // namespace pedseg
