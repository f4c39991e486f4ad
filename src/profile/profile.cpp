// Profile likelihood by warm-started maximisation along a grid.

#include "profile/profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pedseg {

namespace {

// Values of one side of the grid, nearest the estimate first: the distance
// grows with the square of the index, so that points are denser near the
// estimate.
std::vector<double> side_values(double est, double end, int32_t n) {
  std::vector<double> v;
  if (n <= 0 || end == est) return v;
  for (int32_t i = 1; i <= n; ++i) {
    const double u = static_cast<double>(i) / n;
    v.push_back(est + u * u * (end - est));
  }
  return v;
}

// Where the profile crosses `level` between a point above it (a) and one
// below (b), by linear interpolation.
double crossing(double xa, double la, double xb, double lb, double level) {
  return xa + (la - level) / (la - lb) * (xb - xa);
}

}  // namespace

ProfileResult profile_parameter(int32_t entry, const ParamVector& at_estimate, double max_lnl,
                                const ProfileMaximiser& maximise,
                                const ProfileSettings& settings) {
  ProfileResult r;
  const double est = at_estimate.value[entry];
  const double lo = at_estimate.low[entry], hi = at_estimate.high[entry];
  const double margin = settings.end_margin * (hi - lo);
  const double lo_end = std::min(est, lo + margin), hi_end = std::max(est, hi - margin);
  // Points per side in proportion to the side's length, at least 2 on a
  // side that has room (so 2 n + 1 points in all).
  const double len_lo = est - lo_end, len_hi = hi_end - est;
  const int32_t total = 2 * settings.points_per_side;
  int32_t n_lo = 0, n_hi = 0;
  if (len_lo > 0.0 && len_hi > 0.0) {
    n_lo = std::clamp(static_cast<int32_t>(std::lround(total * len_lo / (len_lo + len_hi))), 2,
                      total - 2);
    n_hi = total - n_lo;
  } else if (len_lo > 0.0) {
    n_lo = total;
  } else if (len_hi > 0.0) {
    n_hi = total;
  }
  const double level = max_lnl - PROFILE_DROP_95;

  // One side: returns the (value, lnL) pairs nearest first, and the interval
  // end on that side.
  auto walk = [&](double end, int32_t n, double& ci, bool& open) {
    std::vector<std::pair<double, double>> pts;
    ParamVector point = at_estimate;
    point.est[entry] = 0;
    double prev_x = est, prev_l = max_lnl;
    ci = end;
    open = true;
    for (double x : side_values(est, end, n)) {
      if (r.missed_maximum) break;
      point.value[entry] = x;  // the others start where the last point ended
      double l = maximise(point);
      if (l > max_lnl + PROFILE_EXCESS_TOL) {
        r.missed_maximum = true;
        r.better_lnl = l;
        r.better = point;
        r.better.est[entry] = at_estimate.est[entry];
        break;
      }
      if (l > max_lnl) {
        l = max_lnl;
        ++r.clipped;
      }
      if (open && l < level) {
        ci = crossing(prev_x, prev_l, x, l, level);
        open = false;
      }
      pts.push_back({x, l});
      prev_x = x;
      prev_l = l;
    }
    return pts;
  };
  auto lower = walk(lo_end, n_lo, r.ci_low, r.low_open);
  auto upper = walk(hi_end, n_hi, r.ci_high, r.high_open);
  for (auto it = lower.rbegin(); it != lower.rend(); ++it) {
    r.value.push_back(it->first);
    r.lnl.push_back(it->second);
  }
  r.value.push_back(est);
  r.lnl.push_back(max_lnl);
  for (const auto& [x, l] : upper) {
    r.value.push_back(x);
    r.lnl.push_back(l);
  }
  return r;
}

std::string profile_tsv(std::string_view name, const ProfileResult& r) {
  std::string out = std::string(name) + "\tlnL\n";
  char buf[64];
  for (size_t i = 0; i < r.value.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%.17g\t%.17g\n", r.value[i], r.lnl[i]);
    out += buf;
  }
  return out;
}

}  // namespace pedseg
