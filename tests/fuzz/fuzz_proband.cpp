// proband.dat on arbitrary bytes.  Byte 0 sets the number of individuals
// (0 to 255); the rest is the file.  The reader either refuses the file with
// a diagnostic naming it and a line, or returns one flag of 0 or 1 per
// individual.
#include <cstdint>

#include "fuzz_support.h"
#include "sample/sample.h"

using namespace pedseg;
using pedseg::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t nind = data[0];
  InputFile file = input_from_string("proband.dat", fuzz::as_text(data + 1, size - 1));
  std::vector<uint8_t> flags;
  try {
    flags = read_probands(file, nind);
  } catch (const InputError& e) {
    check(e.message.rfind("proband.dat, line ", 0) == 0,
          "diagnostic does not name the file and the line", e.message);
    return 0;
  }
  check(flags.size() == static_cast<size_t>(nind) + 1, "not one flag per individual");
  check(flags[0] == 0, "element 0 is used");
  for (uint8_t b : flags) check(b == 0 || b == 1, "a flag other than 0 or 1");
  return 0;
}
