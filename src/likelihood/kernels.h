// The vector kernels of the engine: one family's term from its plan, with
// the same operations as the plain code (likelihood.cpp) in the same order.
// Array entry (g, k) of an individual is v[8 g + k], g and k from 0.
#pragma once

#include <cstdint>
#include <vector>

#include "likelihood/plan.h"
#include "model/model.h"

namespace pedseg {

typedef double V4 __attribute__((vector_size(32)));

inline V4 splat(double a) { return V4{a, a, a, a}; }

// One individual's 21 entries: genotype g (0..2) at 8 g, classes in lanes
// 0..6, lane 7 unused.
struct alignas(32) Arr {
  double v[24];
};

// Quantities of one evaluation, read by every thread.
struct EvalShared {
  double TM[27];
  int32_t colid[3][3];   // [first-parent genotype][second-parent genotype] -> column
  int32_t ncols = 0;
  double colm[9][3];     // distinct columns TM(., a, b)
  bool col_small[9];     // every entry of the column finite with |m| <= 1
  double freq_prior[3][8];
  double freq[3];
  double prior[8];
  bool tp_finite = true;
  bool tm_finite = true;  // every entry of TM finite
  bool pen_stale[3] = {true, true, true};  // per major genotype
  bool any_pen_stale = true;
};

// Transmission of classes, laid out for the vector kernels.
struct PolyLayout {
  double TP[343];            // the table these were made from
  V4 TPT[7][7][2];           // [ko][kx][lanes kt]: TP(kx, kt, ko)
  V4 TPV[7][7][2];           // [kF][kM][lanes kc]: TP(kc, kF, kM)
  bool finite = true;
  // TP(kx, ., ko) is zero for every kt when |kx - ko| > 3 (a parent passes
  // at most 3 and at least c - 3 plus alleles of its c).
  bool banded = false;
};

// Per-thread scratch, allocated with the threads.
struct Scratch {
  std::vector<Arr> L;  // local numbers 1..max_nf
  // Families with loops: the arrays a state restores (by local number), the
  // terms of the joint states, and the logarithms of the ops peeled once.
  std::vector<Arr> shared;
  std::vector<double> state_terms;
  std::vector<double> op_scale, op_closing;
  std::vector<V4> kid_sums;  // 9 x 7 x 2 per slot of LoopPlan::kid_slot
  alignas(32) V4 acc[9][7][2];
  alignas(32) V4 prod[9][7][2];  // by transmission column
  alignas(32) double W[3][7][3][7];
};

// The class transmission table laid out for the kernels.
void build_poly(const PolyTables& poly, PolyLayout& L);

// The quantities of one evaluation that do not depend on the family (the
// penetrance flags are the engine's).
void prepare_shared(const ModelQuantities& model, const PolyTables& poly, const PolyLayout& P,
                    EvalShared& s);

// The term of regular family f of plan p, with the penetrances `pen` by
// global number; `floor_hit` as in FAMILY_TERM_PLAIN.  A family with loops
// gives the bits of FAMILY_TERM_PLAIN's combination of its state terms.
void family_term(const Plan& p, int32_t f, const Arr* pen, const EvalShared& s,
                 const PolyLayout& P, Scratch& sc, double& T, bool& floor_hit);

}  // namespace pedseg
