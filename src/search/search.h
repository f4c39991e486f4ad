// Bounded direct (pattern) search that maximises the sample ln LH.
#pragma once

#include <cstdint>
#include <functional>

#include "params/params.h"
#include "textio/textio.h"

namespace pedseg {

// Search settings: single-precision literals held as doubles.
inline constexpr double SEARCH_EPS = static_cast<double>(1.0E-10f);  // 1.000000013351432E-10
inline constexpr double SEARCH_PULL = static_cast<double>(0.8f);     // 0.800000011920929
inline constexpr double SEARCH_RTOL = static_cast<double>(1.0E-5f);  // 9.999999747378752E-06
inline constexpr int32_t SEARCH_MAXIT = 500;
inline constexpr int32_t SEARCH_PRINT = 1;

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
