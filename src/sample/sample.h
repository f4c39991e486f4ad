// One sample read from its folder: par.inp, iway.dat and the trait file,
// read, validated and counted as pedseg does, with loops.dat when the folder
// has one, and the family layout built once from the validated tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/model.h"
#include "params/params.h"
#include "pedigree/layout.h"
#include "pedigree/pedigree.h"
#include "textio/textio.h"

namespace pedseg {

// covariates.dat: the covariate names, then per individual of iway.dat one
// value per name (NaN where the file says NA).
struct CovariateTable {
  std::vector<std::string> names;
  std::vector<double> values;  // row-major (NIND + 1) x K; row 0 unused

  int32_t count() const { return static_cast<int32_t>(names.size()); }
  double at(int32_t global, int32_t j) const {
    return values[static_cast<size_t>(global) * names.size() + static_cast<size_t>(j)];
  }
};

inline constexpr const char* COVARIATES_FILE_NAME = "covariates.dat";
inline constexpr const char* PROBAND_FILE_NAME = "proband.dat";
inline constexpr const char* LOOPS_FILE_NAME = "loops.dat";

// The tables of one sample (about 24 MB: allocate it on the heap).
struct SampleTables {
  std::string dir;  // the folder it was read from ("" or ".": the current one)
  ParamTable par;   // par.inp as read, NPAR = 12
  PolyTables poly;
  std::unique_ptr<PedigreeTables> ped = std::make_unique<PedigreeTables>();
  PedigreeLayout layout;       // with the loop breakers and copies
  std::vector<LoopCopy> loops;  // loops.dat in file order; empty without it
  int32_t NMEAS = 0;
  int32_t NSPIKE = 0;
  std::optional<CovariateTable> covariates;  // covariates.dat, when read
  std::vector<uint8_t> proband;              // proband.dat: 1 or 0 per global number (0 unused);
                                             // empty when not read
};

// What a program adds to the loading.
struct SampleHooks {
  OutputFile* console = nullptr;       // the reader's NIND line; nullptr: dropped
  std::function<void()> par_inp_open;  // called once par.inp is open, before it is read
  bool read_covariates = false;        // read covariates.dat when the folder has one
  bool read_proband = false;           // read proband.dat when the folder has one
  int32_t max_breakers = MAX_BREAKERS;  // loop breakers allowed in one family
};

// Reads par.inp, iway.dat and the trait file of folder `dir` (files named
// with path_in): the parameters (a trait file name cut to 16 characters is a
// warning), the polygenic tables, the pedigree, the validator (its warnings
// to `diagnostics` as "<program>: warning: ..."), loops.dat when present
// (read_loops), the layout and the counts.  Throws InputError or SizeStop as
// pedseg reports them.  With the hooks' read_covariates and read_proband,
// also covariates.dat and proband.dat when the folder has them.
void load_sample(SampleTables& sample, const std::string& dir, OutputFile& diagnostics,
                 const std::string& program, const SampleHooks& hooks = {});

// The lines of loops.dat ("#" comment lines, then "FAMILY PERSON COPY" with
// global numbers) checked against validated tables and their layout without
// loops.  Input errors name the file and the line: a person or copy outside
// the family, a copy listed twice, equal to its person, not a founder (a
// parent in the family's lists and a child in none) or with a trait that is
// not missing, a person that is a copy or in no list, more than
// `max_breakers` persons with copies in one family, and cuts that leave a
// loop (a member that a nuclear family peels away listed again later).
std::vector<LoopCopy> read_loops(const InputFile& file, const PedigreeTables& ped,
                                 const PedigreeLayout& layout, int32_t max_breakers);

}  // namespace pedseg

namespace pedseg {

// covariates.dat for `nind` individuals: a line of names (each a letter, then
// letters, digits or underscores; all different), then one line per
// individual with one value per name, a number strtod reads whole (finite)
// or NA.  Damaged input is an InputError naming the file, the line and the
// column.
CovariateTable read_covariates(InputFile& file, int32_t nind);

// proband.dat for `nind` individuals: one line each, 1 or 0.  Returns
// element 0 unused, then one flag per global number.
std::vector<uint8_t> read_probands(InputFile& file, int32_t nind);

}  // namespace pedseg
