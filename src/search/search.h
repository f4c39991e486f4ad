// Bounded direct (pattern) search that maximises the sample ln LH.
#pragma once

#include <cstdint>
#include <functional>

#include "driver/params.h"
#include "textio/textio.h"

namespace pedseg {

// The objective stores the ln LH of the point in PAR_VAL into its argument.
using Objective = std::function<void(double&)>;

struct SearchResults {
  double BEST_LH = 0.0;
  int32_t ITER_COUNT = 0;
  int32_t EVAL_COUNT = 0;
};

// Where the search writes: progress blocks, console lines, failure lines.
struct SearchOutputs {
  OutputFile& max_dat;
  OutputFile& console;
  OutputFile& par_err;
};

void DIRECT_SEARCH(const int32_t& N, const double& eps, const double& pull,
                   const double& rtol, const int32_t& maxit, const int32_t& print,
                   const Objective& objective, ParamTable& par, SearchResults& results,
                   SearchOutputs& out);

// The 14-line progress block of one iteration: the counters, the ln LH shown
// and the values and steps of all 20 slots of the table.
void write_progress_block(OutputFile& max_dat, int32_t ITER_COUNT, int32_t EVAL_COUNT,
                          double shown_lh, const ParamTable& par);

}  // namespace pedseg
