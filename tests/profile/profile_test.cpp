// Profile likelihood on objectives whose profile is known: ln L of a
// bivariate normal with correlation, maximised over the second parameter
// exactly, from wherever the walk left it; a region of impossible points; a
// profile symmetric about 0.5.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "params/codes.h"
#include "profile/profile.h"

namespace {

constexpr double RHO = 0.6, TOP = -100.0;
const double HALF_WIDTH = std::sqrt(2 * pedseg::PROFILE_DROP_95);  // of the quadratic's interval

double objective(double a, double b) {
  const double x = a - 1.0, y = b - 2.0;
  return TOP - 0.5 * (x * x - 2.0 * RHO * x * y + y * y) / (1.0 - RHO * RHO);
}

pedseg::ParamVector table_at_estimate() {
  pedseg::ParamVector t;
  pedseg::add_param(t, "a", 1.0, 0.0, -5.0, 5.0, 1);
  pedseg::add_param(t, "b", 2.0, 0.0, -5.0, 5.0, 1);
  return t;
}

// The exact maximiser over b.
double best_b(pedseg::ParamVector& t, const std::vector<pedseg::ParamVector>&) {
  t.value[2] = 2.0 + RHO * (t.value[1] - 1.0);
  return objective(t.value[1], t.value[2]);
}

TEST(Profile, QuadraticProfileAndInterval) {
  // Each call starts from the solution at the nearest point already computed
  // between the estimate and its own (a grid neighbour, or the inner end of
  // an interval end's bracket).
  std::map<double, double> solved{{1.0, 2.0}};  // a -> b at the maximum
  int cold_starts = 0, calls = 0;
  pedseg::ProfileMaximiser maximise = [&](pedseg::ParamVector& t,
                                          const std::vector<pedseg::ParamVector>& more) {
    EXPECT_EQ(t.est[1], 0);
    const double x = t.value[1];
    double nearest = 1.0;
    for (const auto& [a, b] : solved)
      if ((a - 1.0) * (x - a) >= 0.0 && std::fabs(x - a) < std::fabs(x - nearest)) nearest = a;
    if (t.value[2] != solved[nearest]) ++cold_starts;
    ++calls;
    const double l = best_b(t, more);
    solved[x] = t.value[2];
    return l;
  };
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, table_at_estimate(), TOP, maximise);
  EXPECT_EQ(cold_starts, 0);
  ASSERT_GE(r.value.size(), 25u);
  EXPECT_EQ(calls + 1, static_cast<int>(r.value.size()));
  EXPECT_EQ(calls, r.maximisations);
  EXPECT_FALSE(r.missed_maximum);
  size_t at_estimate = 0;
  for (size_t i = 0; i < r.value.size(); ++i) {
    EXPECT_LE(r.lnl[i], TOP);
    EXPECT_NEAR(r.lnl[i], TOP - 0.5 * std::pow(r.value[i] - 1.0, 2), 1e-9);
    if (i > 0) {
      EXPECT_GT(r.value[i], r.value[i - 1]);
    }
    if (r.value[i] == 1.0) at_estimate = i;
  }
  EXPECT_EQ(r.lnl[at_estimate], TOP);
  // Denser near the estimate than at the ends.
  EXPECT_LT(r.value[at_estimate + 1] - r.value[at_estimate], r.value.back() - r.value[r.value.size() - 2]);
  EXPECT_GT(r.value.front(), -5.0);
  EXPECT_LT(r.value.back(), 5.0);
  // 1 -+ sqrt(3.84): the profile at each end within 0.001 of the drop.
  EXPECT_EQ(r.low.kind, pedseg::EndKind::Closed);
  EXPECT_EQ(r.high.kind, pedseg::EndKind::Closed);
  for (double end : {r.low.value, r.high.value})
    EXPECT_NEAR(0.5 * std::pow(end - 1.0, 2), pedseg::PROFILE_DROP_95, 1e-3) << end;
  EXPECT_NEAR(r.low.value, 1.0 - HALF_WIDTH, 1e-3);
  EXPECT_NEAR(r.high.value, 1.0 + HALF_WIDTH, 1e-3);
  // Each end costs a few maximisations, not a halving to the tolerance.
  EXPECT_LE(r.maximisations, 30 + 2 * 6);
  const std::string tsv = pedseg::profile_tsv("mean1", r);
  EXPECT_EQ(tsv.substr(0, 10), "mean1\tlnL\n");
}

// A fit that stopped short of the maximum: the profile rises above it, the
// walk says so and hands back the better point, and an end it did not reach
// is unknown, not open; an interval that does not close inside the bounds
// is open there.
TEST(Profile, MissedMaximumAndOpenInterval) {
  const pedseg::ProfileMaximiser maximise = best_b;
  pedseg::ParamVector short_of_it = table_at_estimate();
  short_of_it.value[1] = 0.0;
  const double reported = objective(0.0, 2.0 - RHO);
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, short_of_it, reported, maximise);
  EXPECT_TRUE(r.missed_maximum);
  EXPECT_GT(r.better_lnl, reported + pedseg::PROFILE_EXCESS_TOL);
  EXPECT_GT(r.better.value[1], 0.0);
  EXPECT_EQ(r.better.est[1], 1);
  EXPECT_EQ(r.low.kind, pedseg::EndKind::Closed);  // walked before the better point
  EXPECT_EQ(r.high.kind, pedseg::EndKind::Unknown);
  // Stopped on the first side: neither side is known.
  pedseg::ParamVector past_it = table_at_estimate();
  past_it.value[1] = 2.0;
  const pedseg::ProfileResult p =
      pedseg::profile_parameter(1, past_it, objective(2.0, 2.0 + RHO), maximise);
  EXPECT_TRUE(p.missed_maximum);
  EXPECT_EQ(p.low.kind, pedseg::EndKind::Unknown);
  EXPECT_EQ(p.high.kind, pedseg::EndKind::Unknown);

  pedseg::ParamVector narrow = table_at_estimate();
  narrow.high[1] = 2.0;
  const pedseg::ProfileResult n = pedseg::profile_parameter(1, narrow, TOP, maximise);
  EXPECT_EQ(n.low.kind, pedseg::EndKind::Closed);
  EXPECT_EQ(n.high.kind, pedseg::EndKind::Open);
  EXPECT_EQ(n.high.value, n.value.back());
}

// A second, lower peak at a = 2 rises above the drop: the interval reaches
// past it, and says that the profile leaves it on the way.
TEST(Profile, SecondPeakWithinTheDrop) {
  const pedseg::ProfileMaximiser maximise = [](pedseg::ParamVector& t,
                                               const std::vector<pedseg::ParamVector>&) {
    const double a = t.value[1];
    return std::max(TOP - 50.0 * (a - 1.0) * (a - 1.0), TOP - 1.0 - 50.0 * (a - 2.0) * (a - 2.0));
  };
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, table_at_estimate(), TOP, maximise);
  EXPECT_TRUE(r.gap);
  EXPECT_NEAR(r.low.value, 1.0 - 0.1 * HALF_WIDTH, 1e-3);
  EXPECT_NEAR(r.high.value, 2.0 + 0.1 * std::sqrt(2 * (pedseg::PROFILE_DROP_95 - 1.0)), 1e-3);
  EXPECT_EQ(r.high.kind, pedseg::EndKind::Closed);
  const pedseg::ProfileResult one = pedseg::profile_parameter(1, table_at_estimate(), TOP, best_b);
  EXPECT_FALSE(one.gap);
}

// A local maximiser with two branches: the walk follows the estimate's (b =
// 2) until it vanishes at a = 1.7, and from there the other (b = -2), which
// it keeps once started in it.  Where the profile rises outward the point
// inside is maximised again from the outer one: the profile is the upper of
// the two branches and its 95% set one interval.
TEST(Profile, OuterSolutionsTriedInward) {
  const auto branch_a = [](double a) { return TOP - 8.0 * (a - 1.0) * (a - 1.0); };
  const auto branch_b = [](double a) { return TOP - 1.5 - 2.0 * (a - 1.8) * (a - 1.8); };
  const pedseg::ProfileMaximiser maximise = [&](pedseg::ParamVector& t,
                                                const std::vector<pedseg::ParamVector>&) {
    const double a = t.value[1];
    const bool b = t.value[2] < 0.0 || a > 1.7;
    t.value[2] = b ? -2.0 : 2.0;
    return b ? branch_b(a) : branch_a(a);
  };
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, table_at_estimate(), TOP, maximise);
  EXPECT_FALSE(r.gap);
  for (size_t i = 0; i < r.value.size(); ++i) {
    const double a = r.value[i];  // below the estimate the walk never meets the other branch
    EXPECT_NEAR(r.lnl[i], a < 1.0 ? branch_a(a) : std::max(branch_a(a), branch_b(a)), 1e-12) << a;
  }
  EXPECT_NEAR(r.low.value, 1.0 - std::sqrt(pedseg::PROFILE_DROP_95 / 8.0), 1e-3);
  EXPECT_NEAR(r.high.value, 1.8 + std::sqrt((pedseg::PROFILE_DROP_95 - 1.5) / 2.0), 1e-3);
}

// Below a = 0.2 no point is possible: those points are left out, and the
// interval ends where the possible ones end, not where a line to the
// sentinel crosses the drop.
TEST(Profile, ImpossiblePointsStayOut) {
  const pedseg::ProfileMaximiser maximise = [](pedseg::ParamVector& t,
                                               const std::vector<pedseg::ParamVector>& more) {
    return t.value[1] < 0.2 ? pedseg::LH_SENTINEL : best_b(t, more);
  };
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, table_at_estimate(), TOP, maximise);
  EXPECT_GT(r.impossible, 0);
  ASSERT_FALSE(r.value.empty());
  EXPECT_GE(r.value.front(), 0.2);
  for (double l : r.lnl) EXPECT_GT(l, TOP - 20.0);
  EXPECT_EQ(r.low.kind, pedseg::EndKind::Closed);
  EXPECT_NEAR(r.low.value, 0.2, 1e-5);
  EXPECT_NEAR(r.high.value, 1.0 + HALF_WIDTH, 1e-3);
}

// Two labellings: ln L has peaks at a = 0.2 and 0.8, mirror images about
// 0.5.  Only the estimate's half is maximised; the other half is its image.
TEST(Profile, SymmetricProfile) {
  for (const double width : {0.05, 0.2}) {
    int far_calls = 0;
    const pedseg::ProfileMaximiser maximise = [&](pedseg::ParamVector& t,
                                                  const std::vector<pedseg::ParamVector>&) {
      const double a = t.value[1];
      far_calls += a > 0.5;
      const double d = std::min(std::fabs(a - 0.2), std::fabs(a - 0.8)) / width;
      return TOP - 0.5 * d * d;
    };
    pedseg::ParamVector t;
    pedseg::add_param(t, "q", 0.2, 0.05, 0.0, 1.0, 1);
    pedseg::ProfileSettings settings;
    settings.symmetric_about = 0.5;
    const pedseg::ProfileResult r = pedseg::profile_parameter(1, t, TOP, maximise, settings);
    EXPECT_EQ(far_calls, 0);
    ASSERT_EQ(r.value.size(), r.lnl.size());
    const size_t n = r.value.size();
    EXPECT_GE(n, 31u);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_DOUBLE_EQ(r.value[i], 1.0 - r.value[n - 1 - i]);
      EXPECT_EQ(r.lnl[i], r.lnl[n - 1 - i]) << r.value[i];
    }
    if (width == 0.05) {  // a dip below the drop between the peaks
      EXPECT_EQ(r.high.kind, pedseg::EndKind::Closed);
      EXPECT_NEAR(r.low.value, 0.2 - width * HALF_WIDTH, 1e-4);
      EXPECT_NEAR(r.high.value, 0.2 + width * HALF_WIDTH, 1e-4);
    } else {  // none: the interval spans both peaks, to the grid's ends
      EXPECT_EQ(r.low.kind, pedseg::EndKind::Open);
      EXPECT_EQ(r.high.kind, pedseg::EndKind::Open);
      EXPECT_EQ(r.high.value, 1.0 - r.low.value);
      EXPECT_EQ(r.high.value, r.value.back());
    }
  }
}

}  // namespace
