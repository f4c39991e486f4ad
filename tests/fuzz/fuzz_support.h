// Shared pieces of the fuzz targets: resetting the big tables between inputs
// without clearing all 24 MB, a fixed model for likelihood evaluations, and
// checks that end the process on a broken promise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "params/params.h"
#include "likelihood/engine.h"
#include "likelihood/likelihood.h"
#include "model/model.h"
#include "pedigree/pedigree.h"

namespace pedseg::fuzz {

// Prints the broken promise and aborts, so that the fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, detail.empty() ? "" : ": ",
               detail.c_str());
  std::abort();
}

inline void check(bool ok, const char* what, const std::string& detail = {}) {
  if (!ok) fail(what, detail);
}

// Zeroes every entry a previous read can have written: the small tables
// whole, the big ones up to the counts read (clamped to the tables).
void reset_pedigree(PedigreeTables& ped);

// A parameter table with every parameter inside its bounds, a spike and
// free values, and the polygenic tables; the model quantities are left to
// SAMPLE_LOGLIK.
void fixed_model(ParamTable& par, PolyTables& poly);

// Rough number of inner-loop steps of one likelihood evaluation of the
// analysed families: 9261 per child of a peeled list, plus the search for
// loose individuals.  Used to skip evaluations that would only be slow.
double evaluation_cost(const PedigreeTables& ped);

// Input text as a string.
inline std::string as_text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace pedseg::fuzz
