// Profile likelihood of one parameter: the parameter fixed at each point of a
// grid across its bounds, the other free parameters maximised at each (from
// the neighbouring point's solution and whatever further starts the caller's
// maximiser adds), walking outward from the estimate; and the likelihood-based
// 95% interval, the values where the profile lies within 1.92 of the
// maximum, each end refined on the profile itself to where it lies 1.92
// below.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "params/param_vector.h"

namespace pedseg {

// Half the 95% point of chi-square with 1 df (3.841459 / 2).
inline constexpr double PROFILE_DROP_95 = 1.92;
// A profile point above the maximum by more than this means the fit missed
// the maximum; by less it is the searches' tolerance and the point is set to
// the maximum.
inline constexpr double PROFILE_EXCESS_TOL = 0.01;

// Maximises the free parameters of `point` (the profiled one is fixed there)
// from the values it holds and from each of `more_starts` (points with the
// same fixed value); leaves the best point in `point` and returns its ln L
// (LH_SENTINEL when no start is possible).
using ProfileMaximiser =
    std::function<double(ParamVector& point, const std::vector<ParamVector>& more_starts)>;

struct ProfileSettings {
  int32_t points_per_side = 15;  // plus the estimate: 31 points in all
  // Grid ends this share of the range inside the bounds (values on a bound
  // are often impossible: q = 0, a variance of 0).
  double end_margin = 1e-3;
  // An interval end is found when the profile there lies within this of the
  // drop (ln L units), or when the bracket around it is narrower than
  // end_width times the range (a cliff, e.g. into impossible points).
  double end_tolerance = 1e-3;
  double end_width = 1e-6;
  int32_t end_steps = 40;  // maximisations per end at most
  // The profile is symmetric about this value, P(x) = P(2 c - x) (q about
  // 0.5 when the model's constraints are symmetric under relabelling the
  // genotypes) and the bounds are too: only the estimate's half of the range
  // is maximised, with half the points, and the other half is its mirror
  // image.
  std::optional<double> symmetric_about;
};

// One end of the 95% interval: where the profile crosses the drop (closed);
// the end of the grid when the profile stays within the drop up to it (open);
// unknown when that side was not walked to its end (a point above the
// maximum stopped the walk).
enum class EndKind { Closed, Open, Unknown };
struct IntervalEnd {
  double value = 0.0;
  EndKind kind = EndKind::Unknown;
};

struct ProfileResult {
  // The points where some point of the model was possible, increasing: the
  // grid, the steps that located the interval's ends and, for a symmetric
  // profile, the mirror images.
  std::vector<double> value;
  std::vector<double> lnl;
  IntervalEnd low, high;
  // The profile falls below the drop and rises within it again between the
  // ends: the 95% set is not one interval, and the ends are its outermost.
  bool gap = false;
  int32_t clipped = 0;     // points within PROFILE_EXCESS_TOL above the maximum, set to it
  int32_t impossible = 0;  // grid points where no start was possible: left out
  int32_t maximisations = 0;
  // A point above the maximum by more than PROFILE_EXCESS_TOL: the walk
  // stops there, and `better` holds that point (the profiled parameter's
  // flag as at the estimate) and its ln L, to re-fit from.
  bool missed_maximum = false;
  double better_lnl = 0.0;
  ParamVector better;
};

// `at_estimate` is the point at the model's maximum `max_lnl` (free flags as
// the model's fit had them); `entry` a free parameter in it.
ProfileResult profile_parameter(int32_t entry, const ParamVector& at_estimate, double max_lnl,
                                const ProfileMaximiser& maximise,
                                const ProfileSettings& settings = {});

// profile_PARAM.tsv: a header line "NAME<TAB>lnL", then the points, reals
// with 17 significant digits.
std::string profile_tsv(std::string_view name, const ProfileResult& r);

}  // namespace pedseg
