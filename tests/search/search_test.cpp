// Tests of the direct search on small synthetic objectives whose calls are
// recorded, so that every trial point can be compared with a hand trace.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "params/params.h"
#include "driver/search_report.h"
#include "search/search.h"
#include "textio/textio.h"

namespace pedseg {
namespace {

constexpr double SENTINEL = static_cast<double>(-1.0E18f);  // -9.999999843067494E17

// One search call with pedseg's reports in memory and a recording objective.
struct Harness {
  ParamTable par;
  SearchResults res;
  std::string max_text, console_text, err_text;
  OutputFile max_dat = output_memory(max_text, "max.dat");
  OutputFile console = output_memory(console_text, "console");
  OutputFile par_err = output_memory(err_text, "par.err");
  SearchOutputs out{max_dat, console, par_err};
  std::vector<std::vector<double>> trace;  // PAR_VAL(1..N) at every call
  std::function<double(ParamTable&)> f;

  // Free parameter i with value, step and bounds.
  void free_par(int i, double val, double step, double low = -1.0E6, double high = 1.0E6) {
    par.PAR_LINK[i] = i;
    par.PAR_EST[i] = 1;
    par.PAR_VAL[i] = val;
    par.PAR_STEP[i] = step;
    par.PAR_LOW[i] = low;
    par.PAR_HIGH[i] = high;
  }

  void run(int32_t N, int32_t maxit = 500) {
    Objective obj = [this, N](ParamTable& p) {
      trace.emplace_back(p.PAR_VAL + 1, p.PAR_VAL + 1 + N);
      return f(p);
    };
    SearchSettings settings;
    settings.max_iterations = maxit;
    res = search_with_reports(N, settings, obj, par, out);
  }

  double at(size_t call, int i = 1) const { return trace.at(call).at(i - 1); }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// ---------------------------------------------------------------------------
// Start and refusals.

TEST(SearchStart, NoParametersReturnsAtOnce) {
  for (int32_t N : {0, -3}) {
    Harness h;
    h.free_par(1, 0.5, 0.1);
    h.f = [](ParamTable&) { return 1.0; };
    h.run(N);
    EXPECT_TRUE(h.trace.empty());
    EXPECT_EQ(h.res.outcome, SearchOutcome::NothingToSearch);
    EXPECT_EQ(h.res.BEST_LH, 0.0);
    EXPECT_EQ(h.res.ITER_COUNT, 0);
    EXPECT_EQ(h.res.EVAL_COUNT, 0);
    EXPECT_EQ(h.par.PAR_VAL[1], 0.5);
    EXPECT_EQ(h.max_text + h.console_text + h.err_text, "");
  }
}

TEST(SearchStart, MoreThanThirtyParametersIsReported) {
  Harness h;
  h.f = [](ParamTable&) { return 1.0; };
  h.run(31);
  EXPECT_TRUE(h.trace.empty());
  EXPECT_EQ(h.err_text, " Number of estimated param.>30\n");
  EXPECT_EQ(h.res.outcome, SearchOutcome::TooManyParameters);
  EXPECT_EQ(h.res.ITER_COUNT, 0);
  EXPECT_EQ(h.res.EVAL_COUNT, 0);
  EXPECT_EQ(h.max_text + h.console_text, "");
}

TEST(SearchStart, ParametersBeyondTheTableAreRefused) {
  // 21 to 30 fit the base point but not the 20-slot table.
  Harness h;
  h.f = [](ParamTable&) { return 1.0; };
  h.run(21);
  EXPECT_TRUE(h.trace.empty());
  EXPECT_EQ(h.err_text, " Number of estimated param.>20\n");
  EXPECT_EQ(h.res.outcome, SearchOutcome::TooManyParameters);

  Harness all;  // the full table is searched
  all.free_par(20, 1.0, 0.0);
  all.f = [](ParamTable&) { return 1.0; };
  all.run(20);
  EXPECT_EQ(all.res.outcome, SearchOutcome::Converged);
  EXPECT_EQ(all.res.ITER_COUNT, 1);
  EXPECT_EQ(all.err_text, "");
}

TEST(SearchStart, ImpossibleStartReportsItsOwnValue) {
  Harness h;
  h.free_par(1, 0.5, 0.1);
  h.f = [](ParamTable&) { return SENTINEL; };
  h.run(1);
  EXPECT_EQ(h.trace.size(), 1u);
  EXPECT_EQ(h.res.ITER_COUNT, 0);
  EXPECT_EQ(h.res.EVAL_COUNT, 1);
  EXPECT_EQ(h.res.BEST_LH, SENTINEL);  // not a 0 that belongs to no point
  EXPECT_EQ(h.res.outcome, SearchOutcome::ImpossibleStart);
  EXPECT_EQ(h.par.PAR_VAL[1], 0.5);
  EXPECT_EQ(h.par.PAR_STEP[1], 0.1);
  EXPECT_EQ(h.max_text + h.console_text + h.err_text, "");

  // -1.0E17 itself is impossible; a value above it is not.
  const double limit = static_cast<double>(1.0E17f);
  Harness edge;
  edge.free_par(1, 0.5, 0.0);
  edge.f = [&](ParamTable&) { return -limit; };
  edge.run(1);
  EXPECT_EQ(edge.trace.size(), 1u);
  Harness above;
  above.free_par(1, 0.5, 0.0);
  above.f = [&](ParamTable&) { return -limit / 2; };
  above.run(1);
  EXPECT_EQ(above.res.EVAL_COUNT, 14);
}

TEST(SearchStart, NoFreeParameterEndsInFirstIteration) {
  Harness h;
  for (int i = 1; i <= 12; ++i) {
    h.free_par(i, 0.1 * i, 0.5);
    h.par.PAR_EST[i] = 0;
  }
  h.f = [](ParamTable&) { return -42.5; };
  h.run(NPAR_USED);
  ASSERT_EQ(h.trace.size(), 12u);
  for (const auto& point : h.trace) {
    for (int i = 1; i <= 12; ++i) EXPECT_EQ(point[i - 1], 0.1 * i);
  }
  EXPECT_EQ(h.res.ITER_COUNT, 1);
  EXPECT_EQ(h.res.EVAL_COUNT, 12);
  EXPECT_EQ(h.res.BEST_LH, -42.5);
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(h.par.PAR_STEP[i], 0.5);
  EXPECT_EQ(h.max_text + h.console_text + h.err_text, "");
}

// ---------------------------------------------------------------------------
// Exploratory moves.  maxit = 0 stops right after the first iteration with
// its steps untouched.

TEST(SearchExplore, BothTrialsFailingStepBackByAdding) {
  // 0.3 - 0.1 + 0.2 - 0.1 is not 0.3 in double precision.
  const double x = 0.3, s = 0.1;
  const double v = ((x - s) + 2.0 * s) + 2.0 * (-0.5 * s);
  ASSERT_NE(v, x);
  Harness h;
  h.free_par(1, x, s);
  h.f = [](ParamTable&) { return -1.0; };  // equal values fail
  h.run(1, 0);
  ASSERT_GE(h.trace.size(), 4u);
  EXPECT_EQ(h.at(1), x - s);
  EXPECT_EQ(h.at(2), (x - s) + 2.0 * s);
  EXPECT_EQ(h.at(3), (v + v) - x);  // pattern point from the returned value
  EXPECT_EQ(h.par.PAR_STEP[1], -0.05);
}

TEST(SearchExplore, SuccessOnFirstTrialKeepsDirection) {
  Harness h;
  h.free_par(1, 0.0, -0.5);
  h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 1.0, 2); };
  h.run(1, 0);
  EXPECT_EQ(h.at(1), 0.5);
  EXPECT_EQ(h.par.PAR_STEP[1], -0.75);
  EXPECT_EQ(h.at(2), 1.0);  // pattern point 0.5 + 0.5
}

TEST(SearchExplore, SuccessOnSecondTrialReversesStep) {
  Harness h;
  h.free_par(1, 0.0, 0.5);
  h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 1.0, 2); };
  h.run(1, 0);
  EXPECT_EQ(h.at(1), -0.5);
  EXPECT_EQ(h.at(2), 0.5);
  EXPECT_EQ(h.par.PAR_STEP[1], -0.375);
  EXPECT_EQ(h.at(3), 1.0);
}

TEST(SearchExplore, EqualValueCountsAsFailure) {
  // The trial at 1.0 is exactly as good as the start 0; -1.0 is worse.
  Harness h;
  h.free_par(1, 0.0, -1.0);
  h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 0.5, 2); };
  h.run(1, 0);
  EXPECT_EQ(h.at(1), 1.0);
  EXPECT_EQ(h.at(2), -1.0);
  EXPECT_EQ(h.at(3), 0.0);  // nothing moved, so the pattern point is the start
  EXPECT_EQ(h.par.PAR_STEP[1], 0.5);
}

TEST(SearchExplore, ZeroStepBecomesNegativeZeroAndConverges) {
  Harness h;
  h.free_par(1, 2.0, 0.0);
  h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 5.0, 2); };
  h.run(1);
  for (size_t c = 0; c < h.trace.size(); ++c) EXPECT_EQ(h.at(c), 2.0);
  EXPECT_EQ(h.par.PAR_STEP[1], 0.0);
  EXPECT_TRUE(std::signbit(h.par.PAR_STEP[1]));
  EXPECT_EQ(h.res.ITER_COUNT, 1);
  EXPECT_EQ(h.res.EVAL_COUNT, 14);
  EXPECT_EQ(h.res.BEST_LH, -9.0);
}

TEST(SearchExplore, FlagsClearedByTheObjectiveAreHonoured) {
  // The objective unfrees parameter 2 as a link would; the flags still sum
  // to 2 at the start, so only the gain test or the limit can end it.
  Harness h;
  h.free_par(1, 0.0, 1.0E-7);
  h.free_par(2, 3.0, 0.5);
  h.f = [](ParamTable& p) {
    p.PAR_EST[2] = 0;
    return -std::pow(p.PAR_VAL[1], 2);
  };
  h.run(2, 3);
  for (size_t c = 0; c < h.trace.size(); ++c) EXPECT_EQ(h.at(c, 2), 3.0);
  EXPECT_EQ(h.par.PAR_STEP[2], 0.5);
  EXPECT_EQ(h.res.ITER_COUNT, 4);  // the tiny step of 1 alone cannot converge
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
}

// ---------------------------------------------------------------------------
// Pattern point.

TEST(SearchPattern, ClampAtBoundsInDirectionOfMove) {
  // Upward past a bound of 1.0: the margin vanishes and the point is 1.0.
  Harness up;
  up.free_par(1, 0.5, -0.3, 0.0, 1.0);
  up.f = [](ParamTable& p) { return p.PAR_VAL[1]; };
  up.run(1, 0);
  EXPECT_EQ(up.at(1), 0.8);
  EXPECT_EQ(up.at(2), 1.0);

  // Downward past a bound of 0: the point is the margin itself.
  Harness down;
  down.free_par(1, 0.5, 0.3, 0.0, 1.0);
  down.f = [](ParamTable& p) { return -p.PAR_VAL[1]; };
  down.run(1, 0);
  EXPECT_EQ(down.at(1), 0.2);
  EXPECT_EQ(down.at(2), 9.99999983775159E-18);

  // Landing exactly on a small bound clamps, and the margin shows.
  Harness exact;
  exact.free_par(1, 0.0, -0.03125, -1.0, 0.0625);
  exact.f = [](ParamTable& p) { return p.PAR_VAL[1]; };
  exact.run(1, 0);
  EXPECT_EQ(exact.at(1), 0.03125);
  EXPECT_EQ(exact.at(2), 0.0625 - 9.99999983775159E-18);
  EXPECT_LT(exact.at(2), 0.0625);
}

TEST(SearchPattern, OppositeBoundIsNotTested) {
  // Upward move with the point below the lower bound: no clamp.
  Harness up;
  up.free_par(1, 0.5, -0.3, 2.0, 3.0);
  up.f = [](ParamTable& p) { return p.PAR_VAL[1]; };
  up.run(1, 0);
  EXPECT_EQ(up.at(2), (0.8 + 0.8) - 0.5);

  // Downward move with the point above the upper bound: no clamp.
  Harness down;
  down.free_par(1, 0.5, 0.3, -3.0, -1.0);
  down.f = [](ParamTable& p) { return -p.PAR_VAL[1]; };
  down.run(1, 0);
  EXPECT_EQ(down.at(2), (0.2 + 0.2) - 0.5);

  // No move: no bound at all, even with the value outside both.
  Harness still;
  still.free_par(1, 5.0, 0.5, -1.0, 1.0);
  still.f = [](ParamTable&) { return 1.0; };
  still.run(1, 0);
  EXPECT_EQ(still.at(3), 5.0);
}

TEST(SearchPattern, TenPullBacksThenOneUncomparedPointThenHalving) {
  // Only the exploratory point 0.5 improves; every pattern point beyond it
  // is worse.
  Harness h;
  h.free_par(1, 0.0, -0.5);
  h.f = [](ParamTable& p) { return 1.0 - std::fabs(p.PAR_VAL[1] - 0.5); };
  h.run(1, 2);
  EXPECT_EQ(h.at(1), 0.5);
  double point = 1.0;
  for (size_t c = 2; c <= 12; ++c) {
    EXPECT_EQ(h.at(c), point) << "call " << c;
    point = (1.0 - SEARCH_PULL) * 0.5 + SEARCH_PULL * point;
  }
  EXPECT_NEAR(h.at(12), 0.5 + 0.5 * std::pow(0.8, 10), 1e-7);
  // Next iteration: the step -0.75 is halved before the trial.
  EXPECT_EQ(h.at(13), h.at(12) + 0.375);

  // The first block shows CUR_LH (1) as the uncompared point is worse; the
  // console shows that point's value, taken by the update.
  std::vector<std::string> block = lines_of(h.max_text);
  ASSERT_EQ(block.size(), 28u);
  EXPECT_EQ(block[0], " number of iterations =   1");
  EXPECT_EQ(block[1], " number of functions =    13");
  EXPECT_EQ(block[2], " ln LH =      0.10000000E+01");
  EXPECT_EQ(block[14], " number of iterations =   2");
  std::string first_console = free_line({fmt_real(1.0 - std::fabs(h.at(12) - 0.5))});
  EXPECT_EQ(h.console_text.substr(0, first_console.size()), first_console);
}

// Objective values scripted by call number, whatever the point; calls past
// the script give `rest`.
std::function<double(ParamTable&)> scripted(std::vector<double> values, double rest) {
  auto calls = std::make_shared<size_t>(0);
  return [values, rest, calls](ParamTable&) {
    const size_t c = (*calls)++;
    return c < values.size() ? values[c] : rest;
  };
}

TEST(SearchPattern, ImprovingPatternStopsHalving) {
  // Iteration 1: trial succeeds, pattern phase fails (halving on).
  // Iteration 2: step halved, trial succeeds, pattern improves (halving off).
  // Iteration 3: the step is used as it stands.
  std::vector<double> values = {0.0, 1.0};
  values.insert(values.end(), 11, -1.0);
  values.push_back(5.0);
  values.push_back(10.0);
  Harness h;
  h.free_par(1, 10.0, 1.0);
  h.f = scripted(values, -100.0);
  h.run(1, 2);
  ASSERT_GE(h.trace.size(), 16u);
  EXPECT_EQ(h.at(1), 9.0);
  EXPECT_EQ(h.at(13), h.at(12) - 0.75);  // 1.5 halved
  EXPECT_EQ(h.at(15), h.at(14) - 1.125);  // 0.75 x 1.5, not halved again
  EXPECT_EQ(h.res.ITER_COUNT, 3);
}

TEST(SearchPattern, ImpossibleUncomparedPointKeepsCurrentValue) {
  // Every pattern point of iteration 1 is impossible: the console shows the
  // value of the exploratory point, and the next iteration still compares
  // against it.
  std::vector<double> values = {0.0, 1.0};
  values.insert(values.end(), 11, SENTINEL);
  values.push_back(0.5);  // iteration 2, first trial: worse than 1.0
  Harness h;
  h.free_par(1, 10.0, 1.0);
  h.f = scripted(values, -100.0);
  h.run(1, 1);
  EXPECT_EQ(h.console_text, free_line({fmt_real(1.0)}));
  ASSERT_GE(h.trace.size(), 15u);
  EXPECT_EQ(h.at(14), h.at(13) + 2.0 * 0.75);  // the trial at 0.5 failed
  std::vector<std::string> lines = lines_of(h.max_text);
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[2], " ln LH =      0.10000000E+01");
}

TEST(SearchPattern, GainBelowThresholdConverges) {
  // Second iteration gains less than 1E-10 over the first.
  Harness h;
  h.free_par(1, 0.0, -1.0);
  h.f = [](ParamTable& p) {
    const double x = p.PAR_VAL[1];
    return x < 2.0 ? x : 2.0 + 1.0E-12 * (x - 2.0);
  };
  h.run(1);
  // Iteration 1 reaches 2.0 by its pattern point; iteration 2 improves only
  // by the tiny slope and converges in its pattern phase.
  EXPECT_EQ(h.res.ITER_COUNT, 2);
  EXPECT_EQ(lines_of(h.console_text).size(), 1u);
  EXPECT_GT(h.res.BEST_LH, 2.0);
  EXPECT_EQ(h.res.BEST_LH, h.f(h.par));
}

// ---------------------------------------------------------------------------
// Step test.

TEST(SearchStepTest, ValueZeroNeedsAnAbsolutelySmallStep) {
  const double min_step = static_cast<double>(1.0E-6f);
  auto iterations = [](double step) {
    Harness h;
    h.free_par(1, 0.0, step);
    h.f = [](ParamTable& p) { return -p.PAR_VAL[1] * p.PAR_VAL[1]; };
    h.run(1);
    return h.res.ITER_COUNT;
  };
  EXPECT_EQ(iterations(1.98 * min_step), 1);  // halved by the failures: < 1E-6
  EXPECT_EQ(iterations(2.0 * min_step), 2);   // exactly 1E-6 is not small
}

TEST(SearchStepTest, StepRelativeToValue) {
  auto iterations = [](double step) {
    Harness h;
    h.free_par(1, 1000.0, step);
    h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 1000.0, 2); };
    h.run(1);
    return h.res.ITER_COUNT;
  };
  EXPECT_EQ(iterations(0.0199), 1);  // |step| 0.00995 <= 1E-5 x 1000
  EXPECT_EQ(iterations(0.0201), 2);  // |step| 0.01005 too large

  // A step exactly equal to the relative tolerance passes.  At 1024 every
  // move is exact, so the value comes back to 1024.
  Harness h;
  h.free_par(1, 1024.0, 2.0 * (SEARCH_RTOL * 1024.0));
  h.f = [](ParamTable& p) { return -std::pow(p.PAR_VAL[1] - 1024.0, 2); };
  h.run(1);
  EXPECT_EQ(h.par.PAR_VAL[1], 1024.0);
  EXPECT_EQ(h.par.PAR_STEP[1], -(SEARCH_RTOL * 1024.0));
  EXPECT_EQ(h.res.ITER_COUNT, 1);
}

TEST(SearchStepTest, FreeCountIsTheSumOfTheFlags) {
  // A flag of 2 counts twice, so one small step cannot satisfy the test.
  Harness h;
  h.free_par(1, 0.0, 1.0E-8);
  h.par.PAR_EST[1] = 2;
  h.f = [](ParamTable& p) { return -p.PAR_VAL[1] * p.PAR_VAL[1]; };
  h.run(1, 3);
  EXPECT_EQ(h.res.ITER_COUNT, 4);
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
}

// ---------------------------------------------------------------------------
// Ends of the search.

TEST(SearchEnd, IterationLimitReportsThePointHeld) {
  Harness h;
  h.free_par(1, 0.0, -1.0);
  h.f = [](ParamTable& p) { return p.PAR_VAL[1]; };
  h.run(1, 2);
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
  EXPECT_EQ(h.res.ITER_COUNT, 3);
  EXPECT_EQ(h.res.EVAL_COUNT, static_cast<int32_t>(h.trace.size()));
  EXPECT_EQ(h.par.PAR_VAL[1], h.trace.back()[0]);
  EXPECT_EQ(h.res.BEST_LH, h.par.PAR_VAL[1]);  // not 0
  EXPECT_NE(h.res.BEST_LH, 0.0);
  EXPECT_EQ(lines_of(h.max_text).size(), 28u);  // two blocks, none for the third
  EXPECT_EQ(lines_of(h.console_text).size(), 2u);
}

TEST(SearchEnd, IterationLimitOnImpossiblePointFallsBackToBase) {
  // Everything beyond 0.5 is impossible, so the pattern phase ends on an
  // impossible point.
  Harness h;
  h.free_par(1, 0.0, -0.5);
  h.f = [](ParamTable& p) { return p.PAR_VAL[1] <= 0.5 ? p.PAR_VAL[1] : SENTINEL; };
  h.run(1, 0);
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
  EXPECT_EQ(h.res.ITER_COUNT, 1);
  EXPECT_EQ(h.res.EVAL_COUNT, 13);
  EXPECT_GT(h.trace.back()[0], 0.5);
  EXPECT_EQ(h.par.PAR_VAL[1], 0.5);
  EXPECT_EQ(h.res.BEST_LH, 0.5);
  EXPECT_EQ(h.max_text + h.console_text, "");
}

TEST(SearchEnd, ImpossibleLastPointRestoresEveryParameter) {
  // A fixed parameter rewritten by the objective gets its start value back.
  Harness h;
  h.free_par(1, 0.5, 1.0E-6);
  h.free_par(2, 7.0, 0.0);
  h.par.PAR_EST[2] = 0;
  int calls = 0;
  h.f = [&calls](ParamTable& p) {
    p.PAR_VAL[2] = 99.0;
    return ++calls <= 3 ? 3.0 - std::pow(p.PAR_VAL[1] - 0.5, 2) : SENTINEL;
  };
  h.run(2);
  EXPECT_EQ(h.res.ITER_COUNT, 1);
  EXPECT_EQ(h.res.EVAL_COUNT, 14);
  EXPECT_EQ(h.res.BEST_LH, 3.0);
  const double back = ((0.5 - 1.0E-6) + 2.0E-6) + 2.0 * (-0.5E-6);
  EXPECT_EQ(h.par.PAR_VAL[1], back);
  EXPECT_EQ(h.par.PAR_VAL[2], 7.0);
  EXPECT_EQ(h.max_text + h.console_text + h.err_text, "");
}

// ---------------------------------------------------------------------------
// A first iteration traced by hand, with its progress block and console line.
//   f(a, b) = -(a - 1)^2 - (b + 2)^2 from (0, 0), steps -0.5 and 0.5.
//   start (0, 0) -5; a: 0.5 -> -4.25 success; b: -0.5 -> -2.5 success;
//   pattern (1, -1) -> -1 improves.  Iteration 2: a: 1.75 fails, 0.25 fails;
//   b (step 0.75): -1.75 -> -0.0625 success.

TEST(SearchTrace, FirstIterationByHand) {
  Harness h;
  h.free_par(1, 0.0, -0.5, -10.0, 10.0);
  h.free_par(2, 0.0, 0.5, -10.0, 10.0);
  h.f = [](ParamTable& p) {
    return -std::pow(p.PAR_VAL[1] - 1.0, 2) - std::pow(p.PAR_VAL[2] + 2.0, 2);
  };
  h.run(2, 1);
  const std::vector<std::vector<double>> expected = {
      {0.0, 0.0},  {0.5, 0.0},  {0.5, -0.5}, {1.0, -1.0},
      {1.75, -1.0}, {0.25, -1.0}, {1.0, -1.75},
      {1.5, -3.0}};  // pattern point of iteration 2
  ASSERT_GE(h.trace.size(), expected.size());
  for (size_t c = 0; c < expected.size(); ++c) EXPECT_EQ(h.trace[c], expected[c]) << "call " << c;

  std::vector<std::string> lines = lines_of(h.max_text);
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], " number of iterations =   1");
  EXPECT_EQ(lines[1], " number of functions =     4");
  EXPECT_EQ(lines[2], " ln LH =     -0.10000000E+01");
  EXPECT_EQ(lines[4], "  1    0.100000E+01  -0.750000E+00   11    0.000000E+00   0.000000E+00");
  EXPECT_EQ(lines[5], "  2   -0.100000E+01   0.750000E+00   12    0.000000E+00   0.000000E+00");
  EXPECT_EQ(h.console_text, free_line({fmt_real(-1.0)}));
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
}

// ---------------------------------------------------------------------------
// Progress block text.

TEST(SearchProgress, BlockListsAllTwentySlots) {
  ParamTable par;
  par.PAR_VAL[1] = 0.25;
  par.PAR_STEP[1] = -0.0075;
  par.PAR_VAL[11] = 1.5;
  par.PAR_STEP[11] = 0.1;
  par.PAR_VAL[2] = 12.345678;
  par.PAR_STEP[2] = -0.0;
  par.PAR_VAL[20] = -3.0;
  par.PAR_STEP[20] = 1.0E-7;
  std::string text;
  OutputFile out = output_memory(text, "max.dat");
  write_progress_block(out, 12, 187, -273.45123, par);

  const std::string zeros = "    0.000000E+00   0.000000E+00";
  const std::string expected =
      " number of iterations =  12\n"
      " number of functions =   187\n"
      " ln LH =     -0.27345123E+03\n"
      "        parameter       step               parameter       step\n"
      "  1    0.250000E+00  -0.750000E-02   11    0.150000E+01   0.100000E+00\n"
      "  2    0.123457E+02  -0.000000E+00   12" + zeros + "\n"
      "  3" + zeros + "   13" + zeros + "\n"
      "  4" + zeros + "   14" + zeros + "\n"
      "  5" + zeros + "   15" + zeros + "\n"
      "  6" + zeros + "   16" + zeros + "\n"
      "  7" + zeros + "   17" + zeros + "\n"
      "  8" + zeros + "   18" + zeros + "\n"
      "  9" + zeros + "   19" + zeros + "\n"
      " 10" + zeros + "   20   -0.300000E+01   0.100000E-06\n";
  EXPECT_EQ(text, expected);
  std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 14u);
  for (size_t k = 4; k < 14; ++k) EXPECT_EQ(lines[k].size(), 70u);
}

// The search itself writes nothing: one callback per iteration that does
// not end the search, with the counters and values the reports show.
TEST(SearchProgress, OneCallbackPerContinuingIteration) {
  Harness h;
  h.free_par(1, 0.0, -1.0);
  h.f = [](ParamTable& p) { return p.PAR_VAL[1]; };
  h.run(1, 2);
  ParamTable par;
  par.PAR_LINK[1] = 1;
  par.PAR_EST[1] = 1;
  par.PAR_STEP[1] = -1.0;
  par.PAR_LOW[1] = -1.0E6;
  par.PAR_HIGH[1] = 1.0E6;
  std::vector<SearchProgress> calls;
  SearchSettings settings;
  settings.max_iterations = 2;
  const SearchResults res = DIRECT_SEARCH(
      1, settings, [](ParamTable& p) { return p.PAR_VAL[1]; }, par,
      [&](const SearchProgress& p) { calls.push_back(p); });
  EXPECT_EQ(res.outcome, SearchOutcome::IterationLimit);
  EXPECT_EQ(res.BEST_LH, h.res.BEST_LH);
  EXPECT_EQ(res.EVAL_COUNT, h.res.EVAL_COUNT);
  ASSERT_EQ(calls.size(), 2u);
  const std::vector<std::string> console = lines_of(h.console_text);
  ASSERT_EQ(console.size(), 2u);
  for (size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].ITER_COUNT, static_cast<int32_t>(k + 1));
    EXPECT_GE(calls[k].shown_lh, calls[k].CUR_LH);
  }
  EXPECT_EQ(h.err_text, " MAXIMUM NOT FOUND\n");
}

}  // namespace
}  // namespace pedseg
