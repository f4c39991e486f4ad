// The search of a view: a parameter vector's entries move as a table's slots
// do, and a vector may hold more parameters than the table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "search/search.h"

namespace pedseg {
namespace {

// Slots with a link, a free value next to its bound and steps of both signs.
ParamTable linked_table() {
  ParamTable par;
  par.NPAR = NPAR_USED;
  for (int i = 1; i <= NPAR_USED; ++i) {
    par.PAR_LINK[i] = i;
    par.PAR_EST[i] = i % 3 == 0 ? 0 : 1;
    par.PAR_VAL[i] = 0.1 * i;
    par.PAR_STEP[i] = i % 2 == 0 ? 0.05 : -0.03;
    par.PAR_LOW[i] = -1.0;
    par.PAR_HIGH[i] = 0.1 * i + 0.07;
  }
  par.PAR_LINK[SLOT_MEAN3] = SLOT_MEAN1;
  return par;
}

// ln L with the maximum past the upper bounds; linked values follow their
// targets as the mapping makes them.
double objective_at(ParamTable& par) {
  apply_links(par);
  double s = 0.0;
  for (int i = 1; i <= NPAR_USED; ++i) s -= std::pow(par.PAR_VAL[i] - 0.12 * i, 2) * i;
  return s;
}

TEST(SearchView, VectorMovesAsTheTable) {
  ParamTable par = linked_table();
  std::vector<std::vector<double>> table_trace, vector_trace;
  const SearchResults a = DIRECT_SEARCH(NPAR_USED, SearchSettings{}, [&](ParamTable& p) {
    table_trace.emplace_back(p.PAR_VAL + 1, p.PAR_VAL + 1 + NPAR_USED);
    return objective_at(p);
  }, par);

  ParamVector v = slot_params(linked_table());
  const SearchResults b = direct_search(search_view(v), SearchSettings{}, [&] {
    vector_trace.emplace_back(v.value.begin() + 1, v.value.end());
    ParamTable t;
    slots_to_table(v, t);
    const double lh = objective_at(t);
    slots_from_table(t, v);
    return lh;
  });
  ASSERT_GT(a.ITER_COUNT, 3);
  EXPECT_EQ(table_trace, vector_trace);
  EXPECT_EQ(a.BEST_LH, b.BEST_LH);
  EXPECT_EQ(a.ITER_COUNT, b.ITER_COUNT);
  for (int i = 1; i <= NPAR_USED; ++i) {
    EXPECT_EQ(par.PAR_STEP[i], v.step[i]) << i;
    EXPECT_EQ(par.PAR_EST[i], v.est[i]) << i;
  }
}

TEST(SearchView, BeyondTheTableUpToItsCapacity) {
  ParamVector v;
  const int n = 45;  // more than the table's 20 slots and its base point's 30
  for (int i = 1; i <= n; ++i) add_param(v, "x", 0.0, 0.5, -10.0, 10.0, 1);
  auto f = [&] {
    double s = 0.0;
    for (int i = 1; i <= n; ++i) s -= std::pow(v.value[i] - 0.1 * i, 2);
    return s;
  };
  const SearchResults r = direct_search(search_view(v), SearchSettings{}, f);
  EXPECT_EQ(r.outcome, SearchOutcome::Converged);
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(v.value[i], 0.1 * i, 1e-3) << i;

  for (int i = n + 1; i <= SEARCH_VIEW_CAPACITY + 1; ++i) add_param(v, "y", 0.0, 0.5, -1.0, 1.0, 1);
  int calls = 0;
  const SearchResults refused = direct_search(search_view(v), SearchSettings{}, [&] {
    ++calls;
    return 0.0;
  });
  EXPECT_EQ(refused.outcome, SearchOutcome::TooManyParameters);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace pedseg
