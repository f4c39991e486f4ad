#include "fuzz_support.h"

#include <algorithm>
#include <cstring>

namespace pedseg::fuzz {

namespace {

template <typename T>
void clear_range(T* table, int64_t first, int64_t last_exclusive, int64_t capacity) {
  first = std::max<int64_t>(first, 0);
  last_exclusive = std::min<int64_t>(last_exclusive, capacity);
  if (last_exclusive > first) {
    std::memset(static_cast<void*>(table + first), 0,
                static_cast<size_t>(last_exclusive - first) * sizeof(T));
  }
}

}  // namespace

void reset_pedigree(PedigreeTables& ped) {
  clear_range(ped.NUC_START, 0, ped.NSTART, N_WAY);
  clear_range(ped.NUC_MEMBERS, 0, ped.NMEMBER, N_WAY);
  clear_range(ped.NUC_PIVOT, 0, int64_t{ped.NSTART} - 1, N_WAY - 1);
  clear_range(ped.IND_CODE, 0, int64_t{ped.NIND} + 1, N_SIZE + 1);
  std::memset(static_cast<void*>(ped.PED_START), 0, sizeof ped.PED_START);
  std::memset(static_cast<void*>(ped.PED_NUC), 0, sizeof ped.PED_NUC);
  std::memset(static_cast<void*>(ped.TRAIT), 0, sizeof ped.TRAIT);
  std::memset(static_cast<void*>(ped.PED_WEIGHT), 0, sizeof ped.PED_WEIGHT);
  ped.NFAM = 0;
  ped.NFAM_READ = 0;
  ped.NSTART = 0;
  ped.NMEMBER = 0;
  ped.NIND = 0;
}

void fixed_model(ParamTable& par, PolyTables& poly) {
  par = ParamTable{};
  par.NPAR = NPAR_USED;
  // link, estimated, value, step, low, high
  const double rows[NPAR_USED][6] = {
      {1, 1, 0.3, 0.02, 0.0, 1.0},     {2, 1, 0.05, 0.01, 0.0, 1.0},
      {3, 1, 0.2, 0.01, 0.0, 1.0},     {3, 0, 0.2, 0.01, 0.0, 1.0},
      {5, 1, 10.0, 0.5, -50.0, 50.0},  {6, 1, 8.0, 0.5, -50.0, 50.0},
      {7, 0, 8.0, 0.5, -50.0, 50.0},   {8, 0, 1.0, 0.0, 0.0, 1.0},
      {9, 0, 0.5, 0.0, 0.0, 1.0},      {10, 0, 0.0, 0.0, 0.0, 1.0},
      {11, 1, 0.5, 0.1, -5.0, 5.0},    {12, 1, 3.0, 0.5, 0.01, 100.0}};
  for (int i = 1; i <= NPAR_USED; ++i) {
    par.PAR_LINK[i] = static_cast<int32_t>(rows[i - 1][0]);
    par.PAR_EST[i] = static_cast<int32_t>(rows[i - 1][1]);
    par.PAR_VAL[i] = rows[i - 1][2];
    par.PAR_STEP[i] = rows[i - 1][3];
    par.PAR_LOW[i] = rows[i - 1][4];
    par.PAR_HIGH[i] = rows[i - 1][5];
  }
  poly = PolyTables{};
  BUILD_TRANS_POLY(poly);
  BUILD_POLY_PRIOR(poly);
}

double evaluation_cost(const PedigreeTables& ped) {
  double cost = 0.0;
  const int64_t nfam = std::clamp<int64_t>(ped.PED_START[0], 0, N_FAM);
  for (int64_t f = 1; f <= nfam; ++f) {
    const double n = static_cast<double>(int64_t{ped.PED_START[f + 1]} - ped.PED_START[f]);
    double members = 0.0;
    for (int64_t j = int64_t{ped.PED_NUC[f]} + 1; j <= ped.PED_NUC[f + 1]; ++j) {
      const double S = static_cast<double>(int64_t{ped.NUC_START[j + 1]} - ped.NUC_START[j]);
      members += S;
      cost += 9261.0 * std::max(S, 1.0);
    }
    cost += 21.0 * n + n * members;
  }
  return cost;
}

}  // namespace pedseg::fuzz
