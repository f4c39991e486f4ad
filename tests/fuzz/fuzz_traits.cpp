// The trait file on arbitrary bytes.  Byte 0 sets the number of individuals
// (0 to 255); the rest is the file.  Families of three take the values, and
// the weights are derived from them.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"

using namespace pedseg;
using pedseg::fuzz::check;

namespace {

PedigreeTables& tables() {
  static PedigreeTables* ped = new PedigreeTables;
  return *ped;
}

constexpr float GUARD = -12345.5f;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  PedigreeTables& ped = tables();
  fuzz::reset_pedigree(ped);
  const int32_t nind = data[0];
  ped.NIND = nind;
  const int32_t nfam = (nind + 2) / 3;
  ped.NFAM = nfam;
  ped.NFAM_READ = nfam;
  ped.PED_START[0] = nfam;
  for (int32_t f = 1; f <= nfam + 1; ++f) ped.PED_START[f] = std::min(3 * (f - 1), nind);
  ped.TRAIT[nind + 1] = GUARD;

  InputFile file = input_from_string("trait.dat", fuzz::as_text(data + 1, size - 1));
  try {
    read_traits(file, ped);
  } catch (const InputError& e) {
    check(e.message.rfind("trait.dat", 0) == 0, "diagnostic does not start with the file name",
          e.message);
    check(ped.TRAIT[nind + 1] == GUARD, "a value was stored beyond the individuals");
    return 0;
  }
  check(ped.TRAIT[nind + 1] == GUARD, "a value was stored beyond the individuals");
  check(ped.TRAIT[0] == 0.0f, "a value was stored before the first individual");

  derive_weights(ped);
  for (int32_t f = 1; f <= nfam; ++f) {
    const double w = ped.PED_WEIGHT[f];
    check(w == 0.0 || w == 1.0 || w == 0.5 || w == 1.0 / 3.0, "weight is not 1/c for c <= 3");
  }
  return 0;
}
