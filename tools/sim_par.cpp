// True values for the simulation from a par.inp, read as the program reads it.

#include <memory>

#include "params/params.h"
#include "pedsim.h"
#include "textio/textio.h"

namespace pedseg::tools {

SimParams params_from_par_file(const std::string& name) {
  InputFile file = open_input(name);
  auto par = std::make_unique<ParamTable>();
  par->NPAR = NPAR_USED;
  READ_PARAMETERS(file, *par);
  // Links as the program applies them (READ_PARAMETERS refuses a link
  // outside the table, so this cannot fail after it).
  if (!apply_links(*par)) throw InputError{name + ": a parameter is linked outside 1 to 20"};
  SimParams p;
  for (int i = 1; i <= NPAR_USED; ++i) set_slot(p, i, par->PAR_VAL[i]);
  return p;
}

}  // namespace pedseg::tools
