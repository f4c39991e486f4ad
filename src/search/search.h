// Bounded direct (pattern) search that maximises an objective, usually the
// sample ln LH.  It reads and writes nothing but the parameters it is given
// (a parameter table, or a view of any parallel arrays such as a parameter
// vector's): the caller reports progress and outcome as it likes (pedseg's
// run driver turns them into max.dat blocks, console lines and par.err lines).
#pragma once

#include <cstdint>
#include <functional>

#include "params/param_vector.h"
#include "params/params.h"

namespace pedseg {

// The program's settings: single-precision literals held as doubles.
inline constexpr double SEARCH_EPS = static_cast<double>(1.0E-10f);  // 1.000000013351432E-10
inline constexpr double SEARCH_PULL = static_cast<double>(0.8f);     // 0.800000011920929
inline constexpr double SEARCH_RTOL = static_cast<double>(1.0E-5f);  // 9.999999747378752E-06
inline constexpr int32_t SEARCH_MAXIT = 500;
// Parameters the base point of a table's search holds (a larger N is refused).
inline constexpr int32_t SEARCH_BASE_CAPACITY = 30;
// Parameters a search of a view may have (a larger N is refused).
inline constexpr int32_t SEARCH_VIEW_CAPACITY = 1000;

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
  TooManyParameters,  // a table's N above 20 or 30 (its base point), a view's above its capacity
  NothingToSearch     // N < 1
};

struct SearchResults {
  double BEST_LH = 0.0;    // ln LH of the point left in the parameters
  int32_t ITER_COUNT = 0;  // iterations, counting the last one
  int32_t EVAL_COUNT = 0;  // objective evaluations, the start point included
  SearchOutcome outcome = SearchOutcome::NothingToSearch;
};

// What a search moves: parameters 1..N in parallel arrays (element 0
// unused).  Parameters with est != 0 are searched inside low..high from
// value with steps step; the search ends with the point found in value and
// the steps reached in step.  The objective may rewrite values and flags
// through its own access to the arrays (links), so flags are read afresh at
// every test.
struct SearchView {
  int32_t N = 0;
  double *value = nullptr, *step = nullptr;
  const int32_t* est = nullptr;
  const double *low = nullptr, *high = nullptr;
};

// The entries of `v`; it must not grow or shrink while the view is in use.
SearchView search_view(ParamVector& v);

// One call per iteration that does not end the search, after the update:
// the counters, the ln LH the progress block shows (the better of the last
// trial and the current point) and CUR_LH (the current point's ln LH, the
// console line).
struct SearchIteration {
  int32_t ITER_COUNT;
  int32_t EVAL_COUNT;
  double shown_lh;
  double CUR_LH;
};
using IterationCallback = std::function<void(const SearchIteration&)>;

// Searches the view for the maximum of `objective`, the ln LH of the point
// the view's arrays hold.  LH_SENTINEL, or any value at or below -1.0E17,
// marks an impossible point.  Exceptions of the objective or the callback
// pass through.
SearchResults direct_search(const SearchView& view, const SearchSettings& settings,
                            const std::function<double()>& objective,
                            const IterationCallback& progress = {});

// The search of a parameter table, pedseg's: the objective gets the table
// (ln LH of the point in par.PAR_VAL; it may rewrite linked values and
// flags), the progress the table as it stands.
using Objective = std::function<double(ParamTable&)>;
struct SearchProgress : SearchIteration {
  const ParamTable& par;
};
using ProgressCallback = std::function<void(const SearchProgress&)>;

// Searches parameters 1..N of `par` (the view of PAR_VAL, PAR_STEP, PAR_EST,
// PAR_LOW and PAR_HIGH).  N must fit the table and the base point.
SearchResults DIRECT_SEARCH(int32_t N, const SearchSettings& settings, const Objective& objective,
                            ParamTable& par, const ProgressCallback& progress = {});

}  // namespace pedseg
