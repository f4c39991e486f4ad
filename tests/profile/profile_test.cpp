// Profile likelihood on an objective whose profile is known: ln L of a
// bivariate normal with correlation, maximised over the second parameter
// exactly, from wherever the walk left it.
#include <gtest/gtest.h>

#include <cmath>

#include "profile/profile.h"

namespace {

constexpr double RHO = 0.6, TOP = -100.0;

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

TEST(Profile, QuadraticProfileAndInterval) {
  // Each call must start from the previous point's maximum on its side.
  double last_b[2] = {2.0, 2.0};
  int cold_starts = 0, calls = 0;
  pedseg::ProfileMaximiser maximise = [&](pedseg::ParamVector& t) {
    EXPECT_EQ(t.est[1], 0);
    const int side = t.value[1] < 1.0 ? 0 : 1;
    if (t.value[2] != last_b[side]) ++cold_starts;
    ++calls;
    t.value[2] = 2.0 + RHO * (t.value[1] - 1.0);
    last_b[side] = t.value[2];
    return objective(t.value[1], t.value[2]);
  };
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, table_at_estimate(), TOP, maximise);
  EXPECT_EQ(cold_starts, 0);
  ASSERT_GE(r.value.size(), 25u);
  EXPECT_EQ(calls + 1, static_cast<int>(r.value.size()));
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
  // 1 -+ sqrt(3.84), to the grid's interpolation error.
  EXPECT_NEAR(r.ci_low, 1.0 - std::sqrt(2 * pedseg::PROFILE_DROP_95), 0.03);
  EXPECT_NEAR(r.ci_high, 1.0 + std::sqrt(2 * pedseg::PROFILE_DROP_95), 0.03);
  EXPECT_FALSE(r.low_open || r.high_open);
  const std::string tsv = pedseg::profile_tsv("mean1", r);
  EXPECT_EQ(tsv.substr(0, 10), "mean1\tlnL\n");
}

// A fit that stopped short of the maximum: the profile rises above it, the
// walk says so and hands back the better point; an interval that does not
// close inside the bounds is open there.
TEST(Profile, MissedMaximumAndOpenInterval) {
  pedseg::ProfileMaximiser maximise = [&](pedseg::ParamVector& t) {
    t.value[2] = 2.0 + RHO * (t.value[1] - 1.0);
    return objective(t.value[1], t.value[2]);
  };
  pedseg::ParamVector short_of_it = table_at_estimate();
  short_of_it.value[1] = 0.0;
  const double reported = objective(0.0, 2.0 - RHO);
  const pedseg::ProfileResult r = pedseg::profile_parameter(1, short_of_it, reported, maximise);
  EXPECT_TRUE(r.missed_maximum);
  EXPECT_GT(r.better_lnl, reported + pedseg::PROFILE_EXCESS_TOL);
  EXPECT_GT(r.better.value[1], 0.0);
  EXPECT_EQ(r.better.est[1], 1);

  pedseg::ParamVector narrow = table_at_estimate();
  narrow.high[1] = 2.0;
  const pedseg::ProfileResult n = pedseg::profile_parameter(1, narrow, TOP, maximise);
  EXPECT_FALSE(n.low_open);
  EXPECT_TRUE(n.high_open);
  EXPECT_EQ(n.ci_high, n.value.back());
}

}  // namespace
