// The run driver: one batch run in the current folder.
#pragma once

#include <cstdint>

#include "params/params.h"
#include "likelihood/engine.h"
#include "likelihood/likelihood.h"
#include "model/model.h"
#include "pedigree/pedigree.h"
#include "driver/search_report.h"
#include "sample/sample.h"
#include "search/search.h"
#include "textio/textio.h"

namespace pedseg {

// Every table of a run: the sample and what the run computes on it.  About
// 30 MB, held on the heap (pedseg_main, tests).
struct RunTables : SampleTables {
  ModelQuantities model;
  LikWork work;
  SearchResults search;
  double INIT_LH = 0.0;
};

// How a run evaluates the likelihood.  The outputs are the same bits either
// way; the plain loop is the reference (and the slow side of bench/).
struct RunOptions {
  bool plain_likelihood = false;  // the plain FAMILIES_LOGLIK instead of an engine
};

// The phases of a run, in order.  Throws InputError, SizeStop or WriteError;
// returns normally (exit status 0) at the end of the run or at the early stop
// after an impossible starting point.  `diagnostics` receives the
// validator's warnings.  The run's likelihood engine is built after the
// pedigree is validated and ends with the run.
void run_analysis(RunTables& t, OutputFile& console, OutputFile& diagnostics,
                  const RunOptions& options = {});

// The program: runs the analysis and turns the ways a run ends into the
// exit status (0, EXIT_INPUT_ERROR, EXIT_SIZE_STOP, EXIT_WRITE_ERROR, and
// EXIT_INTERNAL_ERROR with a one-line "pedseg: out of memory" or
// "pedseg: internal error: ..." on standard error).
int pedseg_main();
int pedseg_main(const RunOptions& options);

}  // namespace pedseg
