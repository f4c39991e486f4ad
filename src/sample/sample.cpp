#include "sample/sample.h"

namespace pedseg {

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
  s.layout = build_layout(*s.ped);
  count_measured(*s.ped, s.NMEAS, s.NSPIKE);
}

}  // namespace pedseg
