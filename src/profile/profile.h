// Profile likelihood of one parameter: the parameter fixed at each point of a
// grid across its bounds, the other free parameters maximised (warm-started
// from the neighbouring point, walking outward from the estimate), and the
// likelihood-based 95% interval where the profile is 1.92 below the maximum.
#pragma once

#include <cstdint>
#include <functional>
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

// Maximises the free parameters of the point in place (the profiled one is
// fixed there) and returns the maximum ln L.
using ProfileMaximiser = std::function<double(ParamVector&)>;

struct ProfileSettings {
  int32_t points_per_side = 15;  // plus the estimate: 31 points in all
  // Grid ends this share of the range inside the bounds (values on a bound
  // are often impossible: q = 0, a variance of 0).
  double end_margin = 1e-3;
};

struct ProfileResult {
  std::vector<double> value;  // increasing
  std::vector<double> lnl;    // the profile at each value
  double ci_low = 0.0, ci_high = 0.0;
  bool low_open = false, high_open = false;  // the profile stays above the drop to the grid's end
  int32_t clipped = 0;  // points within PROFILE_EXCESS_TOL above the maximum, set to it
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
