// Bounded direct (pattern) search that maximises an objective, usually the
// sample ln LH.  It reads and writes nothing but the parameter table: the
// caller reports progress and outcome as it likes (pedseg's run driver turns
// them into max.dat blocks, console lines and par.err lines).
#pragma once

#include <cstdint>
#include <functional>

#include "params/params.h"

namespace pedseg {

// The program's settings: single-precision literals held as doubles.
inline constexpr double SEARCH_EPS = static_cast<double>(1.0E-10f);  // 1.000000013351432E-10
inline constexpr double SEARCH_PULL = static_cast<double>(0.8f);     // 0.800000011920929
inline constexpr double SEARCH_RTOL = static_cast<double>(1.0E-5f);  // 9.999999747378752E-06
inline constexpr int32_t SEARCH_MAXIT = 500;
// Parameters the base point holds (a larger N is refused).
inline constexpr int32_t SEARCH_BASE_CAPACITY = 30;

// Settings of the direct search.  The defaults are the program's.
struct SearchSettings {
  // Convergence by gain: an iteration whose pattern point improves on the
  // current point ends the search when that point's ln LH exceeds the ln LH
  // at the end of the previous iteration by less than this.
  // Default 1.0E-10 (widened: 1.000000013351432E-10).  Valid: any finite
  // value >= 0; 0 turns this test off (the step test below still ends the
  // search).
  double gain_threshold = SEARCH_EPS;

  // Pull-back factor: a pattern point that does not improve is moved to
  // (1 - pull) x base point + pull x pattern point, up to 10 times.
  // Default 0.8 (widened: 0.800000011920929).  Valid: 0 < pull < 1; smaller
  // values retreat to the base point faster.
  double pull = SEARCH_PULL;

  // Convergence by step size: the search ends when every free parameter's
  // step is small, |rel_tol x value| >= |step|, or below 1.0E-6 absolutely.
  // Default 1.0E-5 (widened: 9.999999747378752E-06).  Valid: any finite
  // value >= 0; 0 leaves only the absolute test.
  double rel_tol = SEARCH_RTOL;

  // Iteration limit: the search ends with SearchOutcome::IterationLimit when
  // an iteration that neither converged nor stopped on the step test would
  // be number max_iterations + 1.  Default 500.  Valid: >= 0.
  int32_t max_iterations = SEARCH_MAXIT;
};

enum class SearchOutcome {
  Converged,          // the gain or the step test ended the search
  IterationLimit,     // max_iterations reached ("maximum not found")
  ImpossibleStart,    // the start point's ln LH is at or below -1.0E17
  TooManyParameters,  // N above 20 (the table) or 30 (the base point)
  NothingToSearch     // N < 1
};

struct SearchResults {
  double BEST_LH = 0.0;    // ln LH of the point left in the table
  int32_t ITER_COUNT = 0;  // iterations, counting the last one
  int32_t EVAL_COUNT = 0;  // objective evaluations, the start point included
  SearchOutcome outcome = SearchOutcome::NothingToSearch;
};

// The objective: ln LH of the point in par.PAR_VAL (it may rewrite linked
// values and flags).  LH_SENTINEL, or any value at or below -1.0E17, marks
// an impossible point.
using Objective = std::function<double(ParamTable&)>;

// One call per iteration that does not end the search, after the update:
// the counters, the ln LH the progress block shows (the better of the last
// trial and the current point), CUR_LH (the current point's ln LH, the
// console line) and the table as it stands.
struct SearchProgress {
  int32_t ITER_COUNT;
  int32_t EVAL_COUNT;
  double shown_lh;
  double CUR_LH;
  const ParamTable& par;
};
using ProgressCallback = std::function<void(const SearchProgress&)>;

// Searches parameters 1..N of `par` (those with PAR_EST != 0) for the
// maximum of `objective` inside PAR_LOW..PAR_HIGH, starting at PAR_VAL with
// steps PAR_STEP; ends with the point found in PAR_VAL and the steps reached
// in PAR_STEP.  Exceptions of the objective or the callback pass through.
SearchResults DIRECT_SEARCH(int32_t N, const SearchSettings& settings, const Objective& objective,
                            ParamTable& par, const ProgressCallback& progress = {});

}  // namespace pedseg
