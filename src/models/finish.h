// The local finish of a fit: a quasi-Newton method (NLopt's L-BFGS) on the
// logit scale of every free entry, from the point a direct search reached,
// until the gradient is flat.
#pragma once

#include <cstdint>
#include <vector>

#include "models/fit.h"
#include "params/param_vector.h"

namespace pedseg {

// The finish's scale: z = logit((x - low) / (high - low)) for each free
// entry, held inside [-FINISH_Z_LIMIT, FINISH_Z_LIMIT] (a probability of
// 1e-13 from its bound); an entry heading for a bound goes far out, where
// its gradient vanishes.
inline constexpr double FINISH_Z_LIMIT = 30.0;
// The finish stops when the norm of the gradient of ln L on that scale
// (central differences, FINISH_Z_STEP apart) falls below this.
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
  double gradient_norm = 0.0;  // at the point left in `point`
  int32_t evaluations = 0;
  bool converged = false;  // the gradient test ended it
  // The known maximum whose neighbourhood the finish reached, where it
  // stopped (-1: none); the caller takes that maximum for its end.
  int32_t joined = -1;
  KnownMaximum end;  // where it ended, for later finishes
};

// The free entries of `point` on the finish's scale, and back.
std::vector<double> to_logit_scale(const ParamVector& point, const std::vector<int32_t>& entries);
void from_logit_scale(const std::vector<double>& z, const std::vector<int32_t>& entries,
                      ParamVector& point);

// ln L's gradient on the logit scale at `point` (ln L there: `lnL`), by
// central differences; a side that is impossible gives the one-sided
// difference, and both sides impossible a zero.  Returns the norm, with the
// components of entries held at the scale's limit that point outward left out.
double logit_gradient(Fitter& fitter, TransRule rule, const ParamVector& point, double lnL,
                      std::vector<double>& gradient);

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
