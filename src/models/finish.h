// The local finish of a fit: a quasi-Newton method (NLopt's L-BFGS) on the
// logit scale of every free entry, from the point a direct search reached,
// until the gradient is flat.
#pragma once

#include <cstdint>
#include <vector>

#include "models/fit.h"
#include "params/param_vector.h"

namespace pedseg {

// The logit scale: z = logit((x - low) / (high - low)) for each free entry,
// held inside [-FINISH_Z_LIMIT, FINISH_Z_LIMIT] (1e-13 of the range from its
// bound); an entry heading for a bound goes far out, where its gradient
// vanishes.
inline constexpr double FINISH_Z_LIMIT = 30.0;
// The finish's scale: each logit value divided by s = 1 / sqrt(|c|), c the
// second difference of ln L along it where the round of the finish began
// (|c| at least 1e-2), so that ln L curves alike along every entry.  The
// finish stops when the norm of the gradient of ln L on that scale falls
// below FINISH_GRADIENT_TOL: the maximum is then about half its square away
// in ln L.  Differences are FINISH_Z_STEP apart on the logit scale, times s
// where s is below 1.
inline constexpr double FINISH_GRADIENT_TOL = 1.0E-4;
inline constexpr double FINISH_Z_STEP = 1.0E-4;
// Evaluations of ln L one round of the finish may spend (each gradient
// costs one or two per free entry), and the rounds.
inline constexpr int32_t FINISH_MAX_EVALUATIONS = 4000;
inline constexpr int FINISH_ROUNDS = 3;

// A local maximum found before, whose neighbourhood a later finish may
// reach: the logit values of the free entries and the second differences
// of ln L along them there.
struct KnownMaximum {
  std::vector<double> z, curvature;
  double lnL = LH_SENTINEL;
};

struct FinishRun {
  double lnL = LH_SENTINEL;
  double gradient_norm = 0.0;  // at the point left in `point`, on the finish's scale
  int32_t evaluations = 0;
  bool converged = false;  // the gradient test ended it
  // The known maximum whose neighbourhood the finish reached, where it
  // stopped (-1: none); the caller takes that maximum for its end.
  int32_t joined = -1;
  KnownMaximum end;  // where it ended, for later finishes
};

// Maximises ln L over the free entries of `point` (a possible point) from
// the values it holds; leaves the best point found in it.  It stops early
// on entering the neighbourhood of one of `known` (within FINISH_JOIN_RADIUS
// of it, measured by its second differences, and at most FINISH_JOIN_SPAN
// from it along any entry, not above it in ln L).
inline constexpr double FINISH_JOIN_RADIUS = 1.0;
inline constexpr double FINISH_JOIN_SPAN = 1.0;
FinishRun finish_search(Fitter& fitter, TransRule rule, ParamVector& point,
                        const std::vector<KnownMaximum>& known = {});

}  // namespace pedseg
