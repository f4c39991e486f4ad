// Reading par.inp into the parameter table.
#include <stdexcept>
#include <string>

#include "driver/params.h"

namespace pedseg {

void READ_PARAMETERS(InputFile& file, ParamTable& par) {
  if (par.NPAR < 0 || par.NPAR > PAR_SLOTS) {
    throw std::invalid_argument("READ_PARAMETERS: NPAR outside 0 to 20");
  }

  RecordReader name = begin_record(file, "trait file name");
  read_text(name, par.TRAIT_FILE_NAME, NAME_WIDTH);
  // An empty or blank name ('', a leading comma or slash) names no file:
  // say so here, where the line is known, instead of failing to open "".
  if (trait_file_name(par).empty()) {
    throw InputError{record_diagnostic(name, "the trait file name is empty")};
  }
  end_record(name);

  for (int i = 1; i <= par.NPAR; ++i) {
    RecordReader rec = begin_record(file, "parameter " + std::to_string(i));
    read_int(rec, par.PAR_LINK[i]);
    // The link indexes the 20 slots of the table: refuse anything else here,
    // before any evaluation can follow it.
    if (par.PAR_LINK[i] < 1 || par.PAR_LINK[i] > PAR_SLOTS) {
      throw InputError{record_diagnostic(
          rec, "the link index " + std::to_string(par.PAR_LINK[i]) +
                   " is not a parameter number from 1 to 20")};
    }
    read_int(rec, par.PAR_EST[i]);
    read_real(rec, par.PAR_VAL[i]);
    read_real(rec, par.PAR_STEP[i]);
    read_real(rec, par.PAR_LOW[i]);
    read_real(rec, par.PAR_HIGH[i]);
    end_record(rec);
  }
}

std::string trait_file_name(const ParamTable& par) {
  int length = NAME_WIDTH;
  while (length > 0 && par.TRAIT_FILE_NAME[length - 1] == ' ') --length;
  return std::string(par.TRAIT_FILE_NAME, static_cast<size_t>(length));
}

}  // namespace pedseg
