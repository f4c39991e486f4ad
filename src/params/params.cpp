// Reading par.inp into the parameter table; the link rule; names.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "params/params.h"

namespace pedseg {

// Room for the trait file name as written; only its first NAME_WIDTH
// characters are used.
constexpr int NAME_READ_WIDTH = 1024;

void READ_PARAMETERS(InputFile& file, ParamTable& par, std::string* long_name) {
  if (par.NPAR < 0 || par.NPAR > PAR_SLOTS) {
    throw std::invalid_argument("READ_PARAMETERS: NPAR outside 0 to 20");
  }

  RecordReader name = begin_record(file, "trait file name");
  char written[NAME_READ_WIDTH];
  read_text(name, written, NAME_READ_WIDTH);
  std::copy(written, written + NAME_WIDTH, par.TRAIT_FILE_NAME);
  if (long_name != nullptr) {
    long_name->clear();
    int length = NAME_READ_WIDTH;
    while (length > 0 && written[length - 1] == ' ') --length;
    if (length > NAME_WIDTH) long_name->assign(written, static_cast<size_t>(length));
  }
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

std::string trait_file_name(const char (&field)[NAME_WIDTH]) {
  int length = NAME_WIDTH;
  while (length > 0 && field[length - 1] == ' ') --length;
  return std::string(field, static_cast<size_t>(length));
}

std::string long_name_warning(const std::string& long_name, const ParamTable& par) {
  return "the trait file name in par.inp, " + long_name + ", is longer than " +
         std::to_string(NAME_WIDTH) + " characters; it is cut to " + trait_file_name(par);
}

std::string trait_file_name(const ParamTable& par) { return trait_file_name(par.TRAIT_FILE_NAME); }

int32_t used_slots(const ParamTable& par) { return std::clamp<int32_t>(par.NPAR, 0, PAR_SLOTS); }

bool apply_links(ParamTable& par) {
  const int32_t n = used_slots(par);
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t j = par.PAR_LINK[i];
    if (j == i) continue;
    if (j < 1 || j > PAR_SLOTS) return false;
    par.PAR_VAL[i] = par.PAR_VAL[j];
    par.PAR_EST[i] = 0;
  }
  return true;
}

std::string param_description(int32_t i) {
  if (i == SLOT_Q) return "frequency q";
  for (int32_t g = 1; g <= 3; ++g) {
    const std::string n = std::to_string(g);
    if (i == spike_slot(g)) return "spike probability of genotype " + n;
    if (i == mean_slot(g)) return "mean of genotype " + n;
    if (i == tau_slot(g)) return "transmission probability tau" + n;
  }
  if (i == SLOT_POLY_EFFECT) return "polygenic effect";
  if (i == SLOT_RES_VAR) return "residual variance";
  return "parameter " + std::to_string(i);
}

}  // namespace pedseg
