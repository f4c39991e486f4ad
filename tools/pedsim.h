// pedsim: simulates samples of pedigrees under the segregation model and
// writes them as an ordinary pedigree file (family, individual, father,
// mother, sex, trait; on request age and proband columns under a header
// line) that ped2iway converts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pedigree/layout.h"
#include "pedigree/pedigree.h"

namespace pedseg::tools {

// ---------------------------------------------------------------------------
// Random numbers that are the same on every machine: xoshiro256** seeded
// through splitmix64, and a normal generator built from basic arithmetic and
// the square root only (both exactly rounded under IEEE 754).

uint64_t splitmix64(uint64_t& state);

struct Rng {
  uint64_t s[4] = {};
};

void rng_seed(Rng& rng, uint64_t seed);
uint64_t rng_next(Rng& rng);
double rng_uniform(Rng& rng);               // [0, 1), 53 bits
uint64_t rng_below(Rng& rng, uint64_t n);   // uniform on 0..n-1, n > 0
double rng_normal(Rng& rng);                // standard normal (polar method)

// Natural logarithm of a positive finite x from frexp, + - * / only.
double det_log(double x);
// e^x for |x| < 700 from ldexp, + - * / only.
double det_exp(double x);

// ---------------------------------------------------------------------------
// The model: the quantities of par.inp's slots (params.h).

struct SimParams {
  double q = 0.2;                        // SLOT_Q
  double spike[4] = {0, 0.0, 0.0, 0.0};  // spike_slot(g), genotypes g = 1-3
  double mean[4] = {0, 12.0, 10.0, 8.0}; // mean_slot(g)
  double tau[4] = {0, 1.0, 0.5, 0.0};    // tau_slot(g)
  double poly_effect = 0.5;              // SLOT_POLY_EFFECT
  double res_var = 2.0;                  // SLOT_RES_VAR
};

// Sets slot i (1..NPAR_USED) to v; false for another slot.
bool set_slot(SimParams& p, int slot, double v);
// Slot i (1..NPAR_USED) of p; 0 for another slot.
double get_slot(const SimParams& p, int slot);
// Empty when the values can be simulated; otherwise what is wrong.
std::string check_params(const SimParams& p);

// Values of a par.inp (its slots, links applied as the program applies
// them).  An unreadable file throws pedseg::InputError.
SimParams params_from_par_file(const std::string& name);

// ---------------------------------------------------------------------------
// One person's draws under the class model, shared by pedsim's families and
// by simulations on a sample's own structures.

struct Genes {
  int genotype = 0;    // 1..3
  int poly_class = 0;  // 1..7
};

// Hardy-Weinberg major genotype and binomial polygenic class of a founder.
Genes founder_genes(Rng& rng, const SimParams& par);
// A child's: one allele from each parent by the taus, a gamete of three of
// each parent's six polygenic alleles.
Genes child_genes(Rng& rng, const SimParams& par, Genes father, Genes mother);
// true: the person is in the spike; otherwise `value` gets the normal value
// of its genotype and class.
bool draw_trait(Rng& rng, const SimParams& par, Genes g, double& value);

// ---------------------------------------------------------------------------
// The sample.

struct SimOptions {
  int families = 100;
  int child_min = 1;
  int child_max = 4;
  int generations = 2;        // 2: nuclear families; 3: three generations
  double mix = 1.0;           // with 3 generations: share of three-generation families
  bool spouses = false;       // married-in spouses get lines of their own
  double marry = 0.5;         // chance that a child of the founders marries
  double remarry = 0.0;       // chance of a second marriage (founder father, married children)
  double loose = 0.0;         // chance that a family has a loose relative
  double missing_rate = 0.0;  // share of traits masked as missing
  uint64_t seed = 1;
  std::string spike_text = "1000";  // how a spike value is written
  // Each of the following changes nothing unless asked for.
  double sex_effect = 0.0;    // added to the mean of a man
  double age_effect = 0.0;    // added to the mean per year of age
  bool ages = false;          // write an age column (implied by age_effect)
  bool lognormal = false;     // the model holds for ln(trait): the trait written is e^value
  bool probands = false;      // the founders' first child is the proband (a proband column)
  bool select = false;        // keep only families whose proband's trait >= threshold
  double threshold = 0.0;     // with select, unless quantile > 0
  double quantile = 0.0;      // > 0: the threshold is this quantile of a pilot's probands
  int pilot = 10000;          // unselected families drawn for the quantile
  double cousins = 0.0;       // share of families with a first-cousin marriage
  double sisters = 0.0;       // share of families where two brothers marry two sisters
};

// The ages: a family's youngest generation is AGE_BASE to AGE_BASE +
// AGE_SPAN - 1 years old (whole years, uniform), each generation above it
// AGE_STEP years older.
constexpr int AGE_BASE = 5;
constexpr int AGE_SPAN = 20;
constexpr int AGE_STEP = 25;
// Families drawn for a selected sample, at most, per family kept.
constexpr long MAX_DRAWS_PER_KEPT = 10000;

struct SimPerson {
  int father = -1;  // index in the family
  int mother = -1;
  int sex = 1;
  bool written = true;  // false: a married-in spouse left out of the file
  int genotype = 0;     // 1..3
  int poly_class = 0;   // 1..7
  bool spike = false;
  bool missing = false;
  double value = 0.0;   // as written (e^value with lognormal)
  int generation = 0;   // 0 for the founders, married-in spouses as their spouse
  int age = 0;          // with ages or an age effect
};

struct SimFamily {
  std::vector<SimPerson> people;  // parents before children; id = index + 1
  int proband = -1;               // the founders' first child, -1 none
};

// How a sample was drawn: families drawn in all (drawn - kept failed the
// selection) and the selection threshold used.
struct SimReport {
  long drawn = 0;
  double threshold = 0.0;
};

// Without selection, opt.families families; with it, families are drawn
// until opt.families pass (the sample stops short of it, with `report`
// telling, after MAX_DRAWS_PER_KEPT draws per family wanted).
std::vector<SimFamily> simulate(const SimOptions& opt, const SimParams& par,
                                SimReport* report = nullptr);

// Empty when the options can be simulated with `par`; otherwise what is
// wrong (values that would reach the missing or spike codes, a lognormal
// trait beyond them, selection without children).
std::string check_options(const SimOptions& opt, const SimParams& par);

// The pedigree file; the trait of a measured individual is written with four
// decimals (six significant digits when lognormal), a spike as
// opt.spike_text, a missing one as -999.  With ages or probands a header line
// names every column.
std::string pedfile_text(const std::vector<SimFamily>& fams, const SimOptions& opt);
// family, individual, major genotype, polygenic class, spike (1/0)
std::string truth_text(const std::vector<SimFamily>& fams);

// The command; returns the exit status (0 ok, 1 usage error, 2 unreadable
// par.inp or unwritable output).
int run_pedsim(const std::vector<std::string>& args, std::string& out, std::string& err);
// run_pedsim on the standard streams.
int pedsim_main(const std::vector<std::string>& args);

}  // namespace pedseg::tools

namespace pedseg::tools {

// The trait a simulation writes for a person in the spike.
constexpr float SIM_SPIKE_TRAIT = 1000.0f;

// The class model on a sample's own structures: per family in file order,
// passes over the members in increasing local number, each drawing the genes
// (founder_genes, or child_genes once both parents have theirs) and then the
// trait (draw_trait) of every member it can.  A loop copy takes its breaker's
// genes once the breaker has them, and draws nothing.  `trait` (global numbers 1..NIND) keeps
// its missing values and its copies; every other value becomes the
// simulated one (SIM_SPIKE_TRAIT in the spike).  `genes`, when given,
// receives every person's (global numbers).  Throws std::invalid_argument
// when a family's parents never all get drawn.
void simulate_traits(const PedigreeTables& ped, const PedigreeLayout& layout,
                     const SimParams& par, uint64_t seed, float* trait,
                     std::vector<Genes>* genes = nullptr);

}  // namespace pedseg::tools
