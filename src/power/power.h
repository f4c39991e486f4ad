// pedseg-power: the power and the bias of a study design, from samples
// simulated on the structures of a prepared sample under a true model, each
// fitted with a null and an alternative model of the table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "models/bootstrap.h"

namespace pedseg::power {

// What a run is about: the head of replicates.tsv, the same in every part.
struct Design {
  ModelKind null = ModelKind::Sporadic;
  ModelKind alt = ModelKind::Polygenic;
  int64_t replicates = 0;
  uint64_t seed = 1;
  double truth[NPAR_USED + 1] = {};  // slots 1..NPAR_USED
  std::vector<int32_t> alt_free;     // the slots the alt model estimates
  bool truth_under_null = false;     // the truth is a point of the null model
  int32_t starts = DEFAULT_RANDOM_STARTS;
};

// The design of a run on `sample`; `truth` is checked by check_truth first.
Design make_design(const SampleTables& sample, ModelKind null, ModelKind alt,
                   const tools::SimParams& truth, int64_t replicates, uint64_t seed,
                   int32_t starts);
// "" or what makes `truth` unusable: a value outside the bounds of the
// sample's par.inp, or values the simulation refuses.
std::string check_truth(const SampleTables& sample, const tools::SimParams& truth);

// Replicate r: seed S + r, simulated and fitted; one row of replicates.tsv.
std::string replicate_row(const SampleTables& sample, const Design& d, int64_t r);
std::string replicates_head(const Design& d);  // comment lines and the column names

// The replicates r with r mod M = K (all with M = 1), `jobs` at a time, each
// fit with a likelihood of one thread; rows in replicate order.  `done`, when
// given, is called after each replicate with the count finished.
std::vector<std::string> run_replicates(const SampleTables& sample, const Design& d, int64_t part,
                                        int64_t parts, int32_t jobs,
                                        const std::function<void(int64_t)>& done = {});

// Tables of a complete set of rows.
struct Table {
  std::vector<std::string> names;  // column names
  std::vector<std::vector<std::string>> rows;
  int32_t column(const std::string& name) const;  // -1 when absent
};

// The rows of replicates.tsv texts (a run's, or its parts'): every text must
// have the same head; rows are merged in replicate order, and a set with a
// replicate twice or missing is an error (std::invalid_argument).  Returns
// the merged file; `design` and `table` get what it holds.
std::string merge_replicates(const std::vector<std::string>& texts, Design& design, Table& table);

// The Clopper-Pearson interval of a binomial proportion, x of n, at level
// 1 - alpha.
struct Interval {
  double low = 0.0, high = 1.0;
};
Interval clopper_pearson(int64_t x, int64_t n, double alpha);

inline constexpr double POWER_ALPHAS[] = {0.05, 0.01, 0.001};
inline constexpr double POWER_INTERVAL_ALPHA = 0.05;  // a 95% interval

std::string power_tsv(const Table& t);
std::string summary_tsv(const Design& d, const Table& t);
// A QQ plot of p against the uniform when the truth is the null model, a
// histogram of the statistic otherwise.
std::string pvalues_svg(const Design& d, const Table& t);

// The command; returns the exit status.
int power_main(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace pedseg::power
