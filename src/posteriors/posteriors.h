// Posterior probabilities of the major genotypes, and the posterior mean
// polygenic class, of every individual given all trait values of its family,
// at given model quantities.
//
// The class mean is the posterior mean of the class number k = 1..7 (the
// prior mean is 4; class k shifts an individual's mean by (k - 4) x the
// polygenic effect), so 4 means "no information", above 4 a higher polygenic
// value.
//
// Families whose traits are all missing (weight 0) are peeled like the others:
// every penetrance is 1, so they get what the pedigree alone implies.
//
// A family with loops (breakers and copies in the layout) gets, for each
// person, the mixture over the breakers' joint states of its posteriors
// given the state, weighted by the states' likelihoods (loop_state_terms);
// a copy gets its person's numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "likelihood/likelihood.h"
#include "model/model.h"
#include "pedigree/pedigree.h"

namespace pedseg {

struct IndividualPosterior {
  double p[4] = {};         // p[g], g = 1..3: probability of major genotype g
  double class_mean = 0.0;  // posterior mean of the class number 1..7
  int32_t copy_of = 0;      // a copy: the global number of its person; 0 otherwise
};

// How the probabilities are computed.
//  - outward: one inward pass (as the likelihood peels the family) and one
//    outward pass in reverse order, so that every member of every nuclear
//    family receives the information of the rest of the family.  Families
//    whose member lists do not form a tree peeled towards its targets (see
//    posteriors.cpp) take the re-peeling below instead.
//  - repeel: for each individual, genotype g (class k) fixed by zeroing the
//    other entries of its array after INIT_FAMILY, the family peeled again,
//    and the probability taken as that likelihood over the sum of the
//    restricted likelihoods.  10 peelings of the family per member.
// On the 604-family, 22763-person limits sample of bench/run.sh (bench/posbench,
// one thread) outward takes 0.2 s and repeel 36 CPU s (60 s on a busy
// machine), 200 times longer: outward is the default.
enum class PosteriorMethod { outward, repeel };

struct PosteriorTable {
  // Index = global number 1..PED_START(NFAM+1); element 0 unused.  All entries
  // of a family whose likelihood is 0 at these quantities are NaN.
  std::vector<IndividualPosterior> ind;
  int32_t repeeled_families = 0;   // families the outward method left to repeel
  int32_t impossible_families = 0;  // families of likelihood 0 (NaN entries)
};

// Every family of validated tables and their layout; with a view, given the
// traits as the view analyses them (the penetrances of the likelihood).
PosteriorTable genotype_posteriors(const PedigreeTables& ped, const PedigreeLayout& layout,
                                   const PolyTables& poly, const ModelQuantities& model,
                                   PosteriorMethod method = PosteriorMethod::outward,
                                   const TraitView* view = nullptr);

// Family and individual identifiers by global number, from the text of the
// idmap.dat that ped2iway writes ("# ..." comment lines, then "NUMBER FAMILY
// INDIVIDUAL" per line, with a fourth field "copy" on the line of a loop
// breaker's copy, INDIVIDUAL being its person's id).  Index 0 unused; numbers
// not in the text stay empty.
// Throws std::invalid_argument naming the line when a line is not of that
// form or its number is outside 1..nind.
struct IdPair {
  std::string family;
  std::string individual;
};
std::vector<IdPair> read_idmap(std::string_view text, int32_t nind);

// posteriors.tsv: a header line, then one row per individual in the order of
// iway.dat, copies left out: individual, family, family_id, individual_id (from `ids`, empty
// when it has no entry), trait (as read; empty when missing), p1, p2, p3,
// class_mean, reals with 17 significant digits (NaN written as "nan").
std::string posteriors_tsv(const PedigreeTables& ped, const PosteriorTable& post,
                           const std::vector<IdPair>& ids);

}  // namespace pedseg
