// True values for the simulation from a par.inp, read as the program reads it.

#include <memory>

#include "driver/params.h"
#include "pedsim.h"
#include "textio/textio.h"

namespace pedseg::tools {

SimParams params_from_par_file(const std::string& name) {
  InputFile file = open_input(name);
  auto par = std::make_unique<ParamTable>();
  par->NPAR = NPAR_USED;
  READ_PARAMETERS(file, *par);
  // Links as the program applies them: ascending, each copying the value its
  // target holds at that moment.
  for (int i = 1; i <= NPAR_USED; ++i) {
    const int link = par->PAR_LINK[i];
    if (link < 1 || link > PAR_SLOTS)
      throw InputError{name + ": parameter " + std::to_string(i) + " is linked to " +
                       std::to_string(link) + ", outside 1 to 20"};
    if (link != i) par->PAR_VAL[i] = par->PAR_VAL[link];
  }
  SimParams p;
  for (int i = 1; i <= NPAR_USED; ++i) set_slot(p, i, par->PAR_VAL[i]);
  return p;
}

}  // namespace pedseg::tools
