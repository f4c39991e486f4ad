// Bounded direct (pattern) search: exploratory moves along each free
// parameter, a pattern move that extrapolates the base point, pull-backs of a
// failed pattern point and step halving after a failed pattern phase.
#include "search/search.h"

#include <cmath>
#include <vector>

#include "params/codes.h"

namespace pedseg {

namespace {

constexpr int PULL_BACKS = 10;     // failed pattern points before giving up

// Single-precision constants, used at their widened double values.
constexpr double BOUND_MARGIN = static_cast<double>(1.0E-17f);  // 9.99999983775159E-18
constexpr double MIN_STEP = static_cast<double>(1.0E-6f);     // 9.999999974752427E-07

// The search ends on the point the view holds: the last one evaluated, or,
// when that point is impossible, the base point with its ln LH.
void settle_on_last_point(double TRIAL_LH, double CUR_LH, const std::vector<double>& BASE_VAL,
                          const SearchView& v, SearchResults& results) {
  results.BEST_LH = TRIAL_LH;
  if (!(TRIAL_LH > LH_SENTINEL)) {
    results.BEST_LH = CUR_LH;
    for (int32_t i = 1; i <= v.N; ++i) v.value[i] = BASE_VAL[i];
  }
}

}  // namespace

SearchView search_view(ParamVector& v) {
  return {v.size(), v.value.data(), v.step.data(), v.est.data(), v.low.data(), v.high.data()};
}

SearchResults DIRECT_SEARCH(int32_t N, const SearchSettings& settings, const Objective& objective,
                            ParamTable& par, const ProgressCallback& progress) {
  // More parameters than the base point holds, or than the table's 20 slots
  // (refused rather than read past); direct_search takes N < 1 as nothing.
  if (N > SEARCH_BASE_CAPACITY || N > PAR_SLOTS)
    return SearchResults{0.0, 0, 0, SearchOutcome::TooManyParameters};
  const SearchView view{N, par.PAR_VAL, par.PAR_STEP, par.PAR_EST, par.PAR_LOW, par.PAR_HIGH};
  IterationCallback each;
  if (progress) each = [&](const SearchIteration& it) { progress(SearchProgress{it, par}); };
  return direct_search(view, settings, [&] { return objective(par); }, each);
}

SearchResults direct_search(const SearchView& view, const SearchSettings& settings,
                            const std::function<double()>& objective,
                            const IterationCallback& progress) {
  const int32_t N = view.N;
  const double eps = settings.gain_threshold;
  const double pull = settings.pull;
  const double rtol = settings.rel_tol;
  const int32_t maxit = settings.max_iterations;
  SearchResults results;
  // Start.
  // 1, 2. Nothing to search, or more than a view may hold.
  if (N < 1) return results;
  if (N > SEARCH_VIEW_CAPACITY) {
    results.outcome = SearchOutcome::TooManyParameters;
    return results;
  }

  // 3. Counters, base point and the number of free parameters.  The flags
  // are summed in 64 bits so that absurd flag values cannot overflow.
  std::vector<double> BASE_VAL(static_cast<size_t>(N) + 1, 0.0);
  results.ITER_COUNT = 0;
  results.EVAL_COUNT = 1;
  int64_t NFREE = 0;
  for (int32_t i = 1; i <= N; ++i) {
    BASE_VAL[i] = view.value[i];
    NFREE += view.est[i];
  }

  // 4. The start point.
  double CUR_LH = objective();

  // 5. Impossible start point.  BEST_LH reports the value found there rather
  // than a 0 that belongs to no point.
  if (impossible_lh(CUR_LH)) {
    results.BEST_LH = CUR_LH;
    results.outcome = SearchOutcome::ImpossibleStart;
    return results;
  }

  // 6.
  double PREV_LH = LH_SENTINEL;
  int32_t HALVE_STEPS = 0;
  double TRIAL_LH = 0.0;

  auto evaluate = [&]() {
    TRIAL_LH = objective();
    results.EVAL_COUNT += 1;
  };

  // The objective may clear flags, so they are read afresh at every test.
  for (;;) {
    // 7. Exploratory moves.  The next trial of a parameter is at its value
    // minus its step, so the sign of the step carries the direction.
    for (int32_t i = 1; i <= N; ++i) {
      if (view.est[i] == 0) continue;
      // 7.1
      if (HALVE_STEPS == 1) view.step[i] = 0.5 * view.step[i];
      // 7.2
      const double s = view.step[i];
      const double x = view.value[i];
      view.value[i] = x - s;
      evaluate();
      // 7.3 Success at x - s: keep the direction, enlarge the step.
      if (TRIAL_LH > CUR_LH) {
        view.step[i] = 1.5 * s;
        CUR_LH = TRIAL_LH;
        continue;
      }
      // 7.4 Try the other side, x + s.
      view.value[i] = view.value[i] + 2.0 * s;
      view.step[i] = -0.5 * s;
      evaluate();
      // 7.5 Success at x + s: the step is now reversed and enlarged.
      if (TRIAL_LH > CUR_LH) {
        view.step[i] = 1.5 * view.step[i];
        CUR_LH = TRIAL_LH;
        continue;
      }
      // 7.6 Both failed: step back by adding (not by copying x back); the
      // step stays halved and reversed.
      view.value[i] = view.value[i] + 2.0 * view.step[i];
    }

    // 8. Pattern point: extrapolate from the old base point through the new
    // one, clamped only at the bound the move heads for.
    for (int32_t i = 1; i <= N; ++i) {
      if (view.est[i] == 0) continue;
      const double v = view.value[i];
      const double b = BASE_VAL[i];
      double e = (v + v) - b;
      if (v > b && e >= view.high[i]) e = view.high[i] - BOUND_MARGIN;
      if (v < b && e <= view.low[i]) e = view.low[i] + BOUND_MARGIN;
      BASE_VAL[i] = v;
      view.value[i] = e;
    }

    // 9. Pattern phase.
    bool converged = false;
    bool improved = false;
    for (int K = PULL_BACKS; K != 0; --K) {
      // 9.1
      evaluate();
      // 9.2 Improvement: converged when the gain of the whole iteration is
      // below the threshold.
      if (TRIAL_LH > CUR_LH) {
        improved = true;
        if ((TRIAL_LH - PREV_LH) - eps < 0.0) {
          converged = true;
        } else {
          HALVE_STEPS = 0;
        }
        break;
      }
      // 9.3 Pull the point back toward the base point.
      for (int32_t i = 1; i <= N; ++i) {
        if (view.est[i] == 0) continue;
        view.value[i] = (1.0 - pull) * BASE_VAL[i] + pull * view.value[i];
      }
    }
    // 9.4 Ten failures: take the point reached without comparison and halve
    // the steps from now on.
    if (!improved) {
      evaluate();
      HALVE_STEPS = 1;
    }
    if (converged) break;

    // 10. Step test: every free parameter's step small, relative to its
    // value or absolutely.
    int64_t small = 0;
    for (int32_t i = 1; i <= N; ++i) {
      if (view.est[i] == 0) continue;
      if (std::fabs(rtol * view.value[i]) >= std::fabs(view.step[i]) ||
          std::fabs(view.step[i]) < MIN_STEP) {
        small += 1;
      }
    }
    if (small >= NFREE) break;

    // 11. Iteration limit.
    results.ITER_COUNT += 1;
    if (results.ITER_COUNT > maxit) {
      // BEST_LH is the ln LH of the point left in the view, settled as at
      // the end of a converged search, instead of staying 0; ITER_COUNT is
      // not advanced again.
      settle_on_last_point(TRIAL_LH, CUR_LH, BASE_VAL, view, results);
      results.outcome = SearchOutcome::IterationLimit;
      return results;
    }

    // 12. The ln LH of the progress report.
    const double shown = TRIAL_LH > CUR_LH ? TRIAL_LH : CUR_LH;

    // 13. Update.  The next iteration starts from the last point evaluated.
    if (TRIAL_LH > -IMPOSSIBLE_LH_LIMIT) CUR_LH = TRIAL_LH;
    PREV_LH = CUR_LH;

    // 14. Progress.
    if (progress) progress(SearchIteration{results.ITER_COUNT, results.EVAL_COUNT, shown, CUR_LH});
  }

  // Finish.
  // 15, 16.
  settle_on_last_point(TRIAL_LH, CUR_LH, BASE_VAL, view, results);
  // 17.
  results.ITER_COUNT += 1;
  results.outcome = SearchOutcome::Converged;
  return results;
}

}  // namespace pedseg
