// One sample read from its folder: par.inp, iway.dat and the trait file,
// read, validated and counted as pedseg does, with loops.dat when the folder
// has one, and the family layout built once from the validated tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/model.h"
#include "params/params.h"
#include "pedigree/layout.h"
#include "pedigree/pedigree.h"
#include "textio/textio.h"

namespace pedseg {

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
};

// What a program adds to the loading.
struct SampleHooks {
  OutputFile* console = nullptr;       // the reader's NIND line; nullptr: dropped
  std::function<void()> par_inp_open;  // called once par.inp is open, before it is read
  int32_t max_breakers = MAX_BREAKERS;  // loop breakers allowed in one family
};

// Reads par.inp, iway.dat and the trait file of folder `dir` (files named
// with path_in): the parameters (a trait file name cut to 16 characters is a
// warning), the polygenic tables, the pedigree, the validator (its warnings
// to `diagnostics` as "<program>: warning: ..."), loops.dat when present
// (read_loops), the layout and the counts.  Throws InputError or SizeStop as
// pedseg reports them.
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
