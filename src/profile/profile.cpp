// Profile likelihood by warm-started maximisation along a grid, and the
// interval's ends refined on the profile by a bracketing search.

#include "profile/profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "params/codes.h"

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

// Points per side in proportion to the side's length, at least 2 on a side
// that has room (1 when there are fewer than 4 in all).
std::pair<int32_t, int32_t> split_points(double len_lo, double len_hi, int32_t total) {
  if (len_lo > 0.0 && len_hi > 0.0) {
    const int32_t least = std::min<int32_t>(2, total / 2);
    const int32_t n_lo =
        std::clamp(static_cast<int32_t>(std::lround(total * len_lo / (len_lo + len_hi))), least,
                   total - least);
    return {n_lo, total - n_lo};
  }
  if (len_lo > 0.0) return {total, 0};
  if (len_hi > 0.0) return {0, total};
  return {0, 0};
}

class Walk {
 public:
  Walk(int32_t entry, const ParamVector& at_estimate, double max_lnl,
       const ProfileMaximiser& maximise, const ProfileSettings& settings, ProfileResult& r)
      : entry_(entry), flag_(at_estimate.est[entry]), estimate_(at_estimate), max_lnl_(max_lnl),
        level_(max_lnl - PROFILE_DROP_95), maximise_(maximise), settings_(settings), r_(r) {
    estimate_.est[entry] = 0;
  }

  // The estimate's side up to `end` over n grid points; the interval's end
  // on that side: past the outermost point within the drop (the points
  // within it need not be contiguous: r.gap says so), between it and the next
  // point.
  IntervalEnd side(double end, int32_t n) {
    if (r_.missed_maximum) return {};
    std::vector<Solved> walked{{estimate_.value[entry_], max_lnl_, estimate_}};
    size_t from = 0;  // the last possible point: an impossible one is passed over
    for (double x : side_values(walked[0].x, end, n)) {
      Solved s{x, 0.0, {}};
      if (!at(x, walked[from].point, {}, s.point, s.l)) return {};
      walked.push_back(std::move(s));
      if (!impossible_lh(walked.back().l)) from = walked.size() - 1;
    }
    // Where the profile rises outward the outer point's solution may be
    // better inward too: maximised from it, inward while that helps.
    for (size_t i = walked.size() - 1; i-- > 1;) {
      const Solved& out = walked[i + 1];
      Solved& in = walked[i];
      if (impossible_lh(out.l) || !(out.l > in.l + PROFILE_EXCESS_TOL)) continue;
      Solved again{in.x, 0.0, {}};
      if (!at(in.x, out.point, {}, again.point, again.l)) return {};
      if (again.l > in.l) in = std::move(again);
    }
    size_t inner = 0;  // the outermost point within the drop
    for (size_t i = 1; i < walked.size(); ++i) {
      const bool possible = !impossible_lh(walked[i].l);
      if (possible) points.push_back({walked[i].x, walked[i].l});
      r_.impossible += possible ? 0 : 1;
      if (!possible || walked[i].l < level_) continue;
      r_.gap = r_.gap || inner + 1 < i;
      inner = i;
    }
    if (inner + 1 == walked.size()) return {end, EndKind::Open};
    const Solved &a = walked[inner], &b = walked[inner + 1];
    const std::optional<double> x_end = refine(a.x, a.l, a.point, b.x, b.l, b.point);
    return x_end ? IntervalEnd{*x_end, EndKind::Closed} : IntervalEnd{};
  }

  std::vector<std::pair<double, double>> points;  // (value, ln L) of the possible points

 private:
  struct Solved {
    double x, l;
    ParamVector point;
  };

  // The profile at x, maximised from `from` and `also`.  False (and the
  // better point kept) when it lies above the maximum.
  bool at(double x, const ParamVector& from, const std::vector<ParamVector>& also,
          ParamVector& solution, double& l) {
    solution = from;
    solution.value[entry_] = x;
    std::vector<ParamVector> more = also;
    for (ParamVector& t : more) t.value[entry_] = x;
    l = maximise_(solution, more);
    ++r_.maximisations;
    if (impossible_lh(l)) return true;
    if (l > max_lnl_ + PROFILE_EXCESS_TOL) {
      r_.missed_maximum = true;
      r_.better_lnl = l;
      r_.better = solution;
      r_.better.est[entry_] = flag_;
      return false;
    }
    if (l > max_lnl_) {
      l = max_lnl_;
      ++r_.clipped;
    }
    return true;
  }

  // Where the profile falls through the drop between xa (at or above it)
  // and xb (below it, or impossible): regula falsi with the Illinois
  // weights, every third step a halving, until the profile lies within
  // end_tolerance of the drop or the bracket is narrow.  nullopt when a
  // point above the maximum stopped it.
  std::optional<double> refine(double xa, double la, ParamVector sa, double xb, double lb,
                               ParamVector sb) {
    const double width = settings_.end_width * (estimate_.high[entry_] - estimate_.low[entry_]);
    bool b_possible = !impossible_lh(lb);
    double fa = la - level_, fb = b_possible ? lb - level_ : 0.0;
    int kept = 0;  // +1: a moved last, -1: b moved last
    for (int32_t step = 0; step < settings_.end_steps; ++step) {
      if (std::fabs(xb - xa) <= width) break;
      const bool interpolate = b_possible && step % 3 != 2;
      const double x = interpolate ? xa + fa / (fa - fb) * (xb - xa) : 0.5 * (xa + xb);
      ParamVector s;
      double l = 0.0;
      if (!at(x, sa, b_possible ? std::vector<ParamVector>{sb} : std::vector<ParamVector>{}, s,
              l))
        return std::nullopt;
      const bool possible = !impossible_lh(l);
      if (possible) points.push_back({x, l});
      if (possible && std::fabs(l - level_) <= settings_.end_tolerance) return x;
      if (possible && l > level_) {
        xa = x;
        fa = l - level_;
        sa = std::move(s);
        if (kept == 1) fb *= 0.5;
        kept = 1;
      } else {
        xb = x;
        b_possible = possible;
        fb = possible ? l - level_ : 0.0;
        sb = std::move(s);
        if (kept == -1) fa *= 0.5;
        kept = -1;
      }
    }
    return b_possible ? xa + fa / (fa - fb) * (xb - xa) : xa;
  }

  const int32_t entry_, flag_;
  ParamVector estimate_;  // the profiled entry fixed
  const double max_lnl_, level_;
  const ProfileMaximiser& maximise_;
  const ProfileSettings& settings_;
  ProfileResult& r_;
};

}  // namespace

ProfileResult profile_parameter(int32_t entry, const ParamVector& at_estimate, double max_lnl,
                                const ProfileMaximiser& maximise,
                                const ProfileSettings& settings) {
  ProfileResult r;
  const double est = at_estimate.value[entry];
  const double lo = at_estimate.low[entry], hi = at_estimate.high[entry];
  const double margin = settings.end_margin * (hi - lo);
  const double lo_end = std::min(est, lo + margin), hi_end = std::max(est, hi - margin);
  double walk_lo = lo_end, walk_hi = hi_end;
  int32_t total = 2 * settings.points_per_side;
  // A symmetric profile: the estimate's half, from which the other follows.
  const double c = settings.symmetric_about.value_or(0.0);
  const bool mirrored = settings.symmetric_about &&
                        std::fabs(lo + hi - 2.0 * c) <= 1e-12 * (hi - lo) && lo_end < c &&
                        c < hi_end;
  if (mirrored) {
    total = settings.points_per_side;
    (est <= c ? walk_hi : walk_lo) = c;
  }
  const auto [n_lo, n_hi] = split_points(est - walk_lo, walk_hi - est, total);
  Walk walk(entry, at_estimate, max_lnl, maximise, settings, r);
  r.low = walk.side(walk_lo, n_lo);
  r.high = walk.side(walk_hi, n_hi);

  std::vector<std::pair<double, double>> points = walk.points;
  points.push_back({est, max_lnl});
  if (mirrored) {
    // Up to the centre without falling through the drop: the interval goes
    // on to the mirror image of the other end.
    IntervalEnd& near = est <= c ? r.high : r.low;
    const IntervalEnd& far = est <= c ? r.low : r.high;
    if (near.kind == EndKind::Open)
      near = far.kind == EndKind::Unknown ? IntervalEnd{}
                                          : IntervalEnd{2.0 * c - far.value, far.kind};
    for (size_t i = 0, n = points.size(); i < n; ++i)
      if (points[i].first != c) points.push_back({2.0 * c - points[i].first, points[i].second});
  }
  std::sort(points.begin(), points.end());
  for (const auto& [x, l] : points) {
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
