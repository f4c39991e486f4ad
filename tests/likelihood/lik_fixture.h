// Helpers of the likelihood tests: heap-held tables, a parameter table with
// wide bounds, and a tolerance check.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "likelihood/brute_force.h"
#include "likelihood/likelihood.h"

namespace liktest {

struct Tables {
  std::unique_ptr<pedseg::PedigreeTables> ped = std::make_unique<pedseg::PedigreeTables>();
  std::unique_ptr<pedseg::LikWork> work = std::make_unique<pedseg::LikWork>();
  pedseg::ModelQuantities model;
  pedseg::PolyTables poly;
  std::vector<pedseg::LoopCopy> loops;  // the copies of loops.dat, if any
};

// The family loop at the model quantities in `t`.
inline double families_loglik(Tables& t) {
  double LL = 12345.0;
  pedseg::FAMILIES_LOGLIK(*t.ped, pedseg::build_layout(*t.ped, t.loops), t.model, t.poly,
                          *t.work, LL);
  return LL;
}

// |a - b| within `rel` relative to |b|, or absolutely when |b| < 1.
inline ::testing::AssertionResult close(double a, double b, double rel = 1e-12) {
  const double tol = rel * std::max(1.0, std::fabs(b));
  if (std::fabs(a - b) <= tol) return ::testing::AssertionSuccess();
  char buf[200];
  std::snprintf(buf, sizeof buf, "%.17g vs %.17g (diff %.3g, tol %.3g)", a, b, std::fabs(a - b),
                tol);
  return ::testing::AssertionFailure() << buf;
}

// A parameter table for the twelve parameters: unlinked, all fixed, wide
// bounds.  v[1..12] are the values.
inline void set_params(pedseg::ParamTable& par, const double* v) {
  par.NPAR = pedseg::NPAR_USED;
  for (int i = 1; i <= pedseg::NPAR_USED; ++i) {
    par.PAR_LINK[i] = i;
    par.PAR_EST[i] = 0;
    par.PAR_VAL[i] = v[i];
    par.PAR_STEP[i] = 0.1;
    par.PAR_LOW[i] = -100.0;
    par.PAR_HIGH[i] = 100.0;
  }
  par.PAR_LOW[1] = 0.0;
  par.PAR_HIGH[1] = 1.0;
  par.PAR_LOW[12] = 0.0;
}

// Text of a structure, for failure messages.
inline std::string describe(const bf::Structure& s) {
  std::string out = "traits:";
  char buf[32];
  for (float t : s.traits) {
    std::snprintf(buf, sizeof buf, " %g", t);
    out += buf;
  }
  for (size_t j = 0; j < s.lists.size(); ++j) {
    out += " | list";
    for (int x : s.lists[j]) {
      std::snprintf(buf, sizeof buf, " %d", x);
      out += buf;
    }
    std::snprintf(buf, sizeof buf, " pivot %d", s.pivots[j]);
    out += buf;
  }
  return out;
}

}  // namespace liktest
