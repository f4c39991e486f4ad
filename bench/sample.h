// The tables of the sample in the current folder (par.inp, iway.dat, the
// trait file), read as the program reads them; shared by the timing programs.
#pragma once

#include "driver/run.h"

namespace bench {

inline void load_sample(pedseg::RunTables& t, pedseg::OutputFile& console) {
  t.poly.NLOCI = 3;
  t.poly.NCLASS = 7;
  pedseg::InputFile par_inp = pedseg::open_input("par.inp");
  t.par.NPAR = pedseg::NPAR_USED;
  pedseg::READ_PARAMETERS(par_inp, t.par);
  pedseg::BUILD_TRANS_POLY(t.poly);
  pedseg::BUILD_POLY_PRIOR(t.poly);
  pedseg::READ_PEDIGREE(t.par.TRAIT_FILE_NAME, t.ped, console);
}

}  // namespace bench
