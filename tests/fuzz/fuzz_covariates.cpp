// covariates.dat on arbitrary bytes.  Byte 0 sets the number of individuals
// (0 to 255); the rest is the file.  The reader either refuses the file with
// a diagnostic naming it and a line, or returns a full table of finite
// values and NaN whose names are names.
#include <cctype>
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "sample/sample.h"

using namespace pedseg;
using pedseg::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t nind = data[0];
  InputFile file = input_from_string("covariates.dat", fuzz::as_text(data + 1, size - 1));
  CovariateTable t;
  try {
    t = read_covariates(file, nind);
  } catch (const InputError& e) {
    check(e.message.rfind("covariates.dat, line ", 0) == 0,
          "diagnostic does not name the file and the line", e.message);
    return 0;
  }
  check(t.count() > 0, "a table without covariates");
  check(t.values.size() == static_cast<size_t>(nind + 1) * t.names.size(), "wrong table size");
  for (const std::string& name : t.names)
    check(!name.empty() && std::isalpha(static_cast<unsigned char>(name[0])), "not a name", name);
  for (int32_t i = 1; i <= nind; ++i)
    for (int32_t j = 0; j < t.count(); ++j)
      check(std::isfinite(t.at(i, j)) || std::isnan(t.at(i, j)), "an infinite value");
  return 0;
}
