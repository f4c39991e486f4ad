// The fast family loop: the same bits as the plain version of
// likelihood.cpp, computed with vectorised kernels, work that is kept across
// evaluations, and several threads.
#pragma once

#include <cstdint>

#include "likelihood/likelihood.h"

namespace pedseg {

// Which family loop SAMPLE_LOGLIK uses.  Both give identical results; the
// plain one is the reference.
enum class LikKernel { Plain, Fast };
void set_likelihood_kernel(LikKernel kernel);
LikKernel likelihood_kernel();

// Number of threads of the fast family loop.  0 (the default) means
// OMP_NUM_THREADS when it holds a positive number, otherwise every core the
// process may run on.  Takes effect at the next evaluation.
void set_likelihood_threads(int32_t threads);
// The number of threads the next evaluation will use.
int32_t likelihood_threads();

// The plain term of one family with a non-zero weight and n_f > 0: set-up,
// peeling and the loose individuals' terms.  `floor_hit` is set when a loose
// individual's summed array is at or below LIK_FLOOR (T is then undefined).
void FAMILY_TERM_PLAIN(int32_t f, const PedigreeTables& ped, const ModelQuantities& model,
                       const PolyTables& poly, LikWork& work, double& T, bool& floor_hit);

// The same as FAMILIES_LOGLIK, bit for bit, for any input.  `work` serves
// the families that the fast kernels do not take (irregular member lists),
// which are evaluated by the plain code.
void FAMILIES_LOGLIK_FAST(PedigreeTables& ped, const ModelQuantities& model,
                          const PolyTables& poly, LikWork& work, double& LL);

// The term of every family as the last FAMILIES_LOGLIK_FAST computed it
// (index f = 1..NFAM; 0 for families not evaluated), and whether a loose
// individual tripped LIK_FLOOR there.  For tests.
double fast_family_term(int32_t f);
bool fast_family_floor(int32_t f);
// Number of families of the last evaluation that went to the plain code.
int32_t fast_plain_families();

}  // namespace pedseg
