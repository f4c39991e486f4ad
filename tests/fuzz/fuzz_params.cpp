// par.inp reading on arbitrary bytes, then both parameter mappings on the
// table it leaves, so that whatever values, links and flags the file holds
// are followed through the mapping.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"

using namespace pedseg;
using pedseg::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto par = std::make_unique<ParamTable>();
  par->NPAR = NPAR_USED;
  InputFile file = input_from_string("par.inp", fuzz::as_text(data, size));
  try {
    READ_PARAMETERS(file, *par);
  } catch (const InputError& e) {
    check(e.message.rfind("par.inp", 0) == 0, "diagnostic does not start with the file name",
          e.message);
    return 0;
  }

  for (int i = 1; i <= NPAR_USED; ++i) {
    check(par->PAR_LINK[i] >= 1 && par->PAR_LINK[i] <= PAR_SLOTS, "link index outside the table");
  }
  for (int i = NPAR_USED + 1; i <= PAR_SLOTS; ++i) {
    check(par->PAR_LINK[i] == 0 && par->PAR_VAL[i] == 0.0 && par->PAR_STEP[i] == 0.0,
          "a slot beyond the 12 parameters was written");
  }

  // The initial mapping, then the search mapping on what it leaves.
  ModelQuantities model;
  std::string messages;
  OutputFile par_err = output_memory(messages, "par.err");
  double status = 1.0;
  SET_MODEL_INITIAL(*par, model, par_err, status);
  double status2 = 1.0;
  SET_MODEL_SEARCH(*par, model, status2);
  return 0;
}
