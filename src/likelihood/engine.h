// The likelihood engine: the fast family loop as an object its caller owns.
// Built once from validated tables, it keeps the plan of every family, the
// penetrances of the distinct trait values, the per-thread work arrays and
// its own sleeping thread pool, and gives the same bits as the plain
// FAMILIES_LOGLIK at any point, any number of times.  Engines share nothing:
// several may run in one process, on the same or on different pedigrees.
#pragma once

#include <cstdint>
#include <memory>

#include "likelihood/likelihood.h"
#include "likelihood/plan.h"

namespace pedseg {

class LikelihoodEngine {
 public:
  // Built once from validated tables and their layout, whose loop breakers
  // and copies it sums over (the layout is copied); `ped` and `poly` must
  // outlive the engine and stay unchanged.  threads: 0 = OMP_NUM_THREADS
  // when it holds a positive number, else every core the process may run
  // on.  Throws std::invalid_argument for tables outside the program's
  // sizes (NFAM outside 0..N_FAM, NCLASS not 7).
  LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                   const PolyTables& poly, int32_t threads = 0);
  // The same under a view of the traits, which must outlive the engine: its
  // uses fix the set-up and the evaluated families once; its values (z,
  // shift, log_jacobian) are read at every evaluation, and a new stamp
  // recomputes every penetrance.  The result is the plain FAMILIES_LOGLIK's
  // under the same view, bit for bit; with Peeling::SumOutUnmeasured
  // (likelihood/plan.h) the same up to rounding.
  LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                   const PolyTables& poly, const TraitView& view, int32_t threads = 0,
                   Peeling peeling = Peeling::Full);
  // The same on the layout of the tables alone (no loops).
  LikelihoodEngine(const PedigreeTables& ped, const PolyTables& poly, int32_t threads = 0);
  ~LikelihoodEngine();  // joins its threads
  LikelihoodEngine(const LikelihoodEngine&) = delete;
  LikelihoodEngine& operator=(const LikelihoodEngine&) = delete;

  // The number of threads evaluations use (at most the number of families).
  int32_t threads() const;
  void set_threads(int32_t threads);  // 0 = default as above

  // Sample ln LH of the families at the model quantities in place; the same
  // bits as the plain FAMILIES_LOGLIK (LH_SENTINEL on a floor hit or a
  // non-finite total).
  double families_loglik(const ModelQuantities& model);

  // The search objective: SET_MODEL_SEARCH on `par` (links applied, flags of
  // linked parameters cleared), then families_loglik; LH_SENTINEL when the
  // mapping rejects the point.
  double sample_loglik(ParamTable& par, ModelQuantities& model);

  // For tests: the term of family f in the last evaluation (0 for families
  // not evaluated), whether a loose individual tripped LIK_FLOOR there, and
  // how many families went to the plain code.
  double family_term(int32_t f) const;
  bool family_floor(int32_t f) const;
  int32_t plain_families() const;

  struct State;

 private:
  LikelihoodEngine(const PedigreeTables& ped, const PedigreeLayout& layout,
                   const PolyTables& poly, int32_t threads, const TraitView* view,
                   Peeling peeling);
  std::unique_ptr<State> state_;
};

}  // namespace pedseg
