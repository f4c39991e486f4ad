// loops.dat on arbitrary bytes, against the sample of the end-to-end case
// "loops" (first cousins, half-sibs, double first cousins, a nuclear family,
// first cousins cut at both grandparents).  A refused file must name the
// file and the line; an accepted one must hold only copies that stand for
// their persons (founders with missing traits, no person a copy, at most
// MAX_BREAKERS breakers a family), and the engine, the plain loop and the
// posteriors must take its layout: the same bits from both loops, and every
// copy given its person's posteriors.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "posteriors/posteriors.h"
#include "sample/sample.h"

using namespace pedseg;
using pedseg::fuzz::check;

namespace {

const char* const IWAY =
    "5 5 0 10 17 30 35 46\n0 0 4 7 12 13 18\n"
    "20 0 0 3 6 9 13 16 19 22 25 28 32 35 39 44 47 50 53 56\n59\n"
    "59 7 10 9 3 5 7 6 4 8 1 2 3 4 1 2 4 7 3 5\n4 5 6 9 12 11 13 8 10 3 4 7 8 5 7 9 1 2 5 6\n"
    "1 2 3 4 5 1 2 3 3 5 7 10 11 4 6 4 8 7 8 9\n"
    "7 3 4 0 4 5 0 9 8 7 5 0 0 3 7 4 8 0\n"
    "46 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n"
    "20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35 36 37 38 39\n40 41 42 43 44 45 46\n";

const char* const TRAITS =
    "5.8590 9.5212 12.5810 8.5207 8.6281 13.4694 10.7946 7.2710 12.5162 -999 1000 -999 "
    "12.8042 11.9772 6.4905 8.6337 -999 12.8821 5.5723 11.0299 5.5384 9.8208 7.5298 7.6787 "
    "9.3612 8.9430 -999 6.6741 -999 -999 9.7863 11.9368 9.8690 10.0095 6.6934 9.2954 10.6416 "
    "4.5824 5.0607 8.4308 6.1625 6.7883 12.8208 7.8835 -999 -999\n";

struct State {
  std::unique_ptr<PedigreeTables> ped = std::make_unique<PedigreeTables>();
  std::unique_ptr<LikWork> work = std::make_unique<LikWork>();
  PedigreeLayout layout;
  PolyTables poly;
  ModelQuantities model;

  State() {
    InputFile iway = input_from_string("iway.dat", IWAY);
    read_structure(iway, *ped);
    InputFile traits = input_from_string("trait.dat", TRAITS);
    read_traits(traits, *ped);
    derive_weights(*ped);
    std::vector<std::string> errors, warnings;
    check(validate_pedigree(*ped, errors, warnings), "the fixed sample is not valid");
    layout = build_layout(*ped);
    ParamTable par;
    fuzz::fixed_model(par, poly);
    double status = 1.0;
    SET_MODEL_SEARCH(par, model, status);
  }
};

State& state() {
  static State* s = new State;
  return *s;
}

bool same_bits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  State& s = state();
  const PedigreeTables& ped = *s.ped;
  const InputFile file = input_from_string("loops.dat", fuzz::as_text(data, size));
  std::vector<LoopCopy> loops;
  try {
    loops = read_loops(file, ped, s.layout, MAX_BREAKERS);
  } catch (const InputError& e) {
    check(e.message.rfind("loops.dat, line ", 0) == 0, "diagnostic without the file and line",
          e.message);
    return 0;
  }
  std::set<int32_t> copies, persons;
  std::map<int32_t, std::set<int32_t>> breakers;
  for (const LoopCopy& c : loops) {
    check(c.family >= 1 && c.family <= s.layout.nfam(), "a family outside the sample");
    const FamilyLayout& fam = s.layout[c.family];
    check(c.person > fam.start && c.person <= fam.start + fam.size && c.copy > fam.start &&
              c.copy <= fam.start + fam.size && c.person != c.copy,
          "a person or copy outside its family");
    check(s.layout.role(c.family, c.copy - fam.start) == Role::Parent, "a copy is not a founder");
    check(trait_missing(ped.TRAIT[c.copy]) && !trait_counts_measured(ped.TRAIT[c.copy]),
          "a copy has a trait");
    check(copies.insert(c.copy).second, "a copy listed twice");
    persons.insert(c.person);
    breakers[c.family].insert(c.person);
    check(static_cast<int32_t>(breakers[c.family].size()) <= MAX_BREAKERS, "too many breakers");
  }
  for (int32_t p : persons) check(copies.count(p) == 0, "a person is a copy");

  const PedigreeLayout layout = build_layout(ped, loops);
  LikelihoodEngine engine(ped, layout, s.poly, 1);
  const double fast = engine.families_loglik(s.model);
  double plain = 0.0;
  FAMILIES_LOGLIK(*s.ped, layout, s.model, s.poly, *s.work, plain);
  check(same_bits(fast, plain), "the engine and the plain loop differ",
        std::to_string(fast) + " vs " + std::to_string(plain));
  check(plain == plain, "the sample ln LH is not a number");

  const PosteriorTable post = genotype_posteriors(ped, layout, s.poly, s.model);
  for (const LoopCopy& c : loops) {
    const IndividualPosterior& r = post.ind[static_cast<size_t>(c.copy)];
    check(r.copy_of == c.person, "a copy is not marked with its person");
    check(same_bits(r.p[1], post.ind[static_cast<size_t>(c.person)].p[1]),
          "a copy's posterior is not its person's");
  }
  for (int32_t i = 1; i <= ped.PED_START[ped.PED_START[0] + 1]; ++i) {
    const IndividualPosterior& r = post.ind[static_cast<size_t>(i)];
    const double sum = r.p[1] + r.p[2] + r.p[3];
    check(std::isnan(sum) || std::fabs(sum - 1.0) < 1e-9, "posteriors do not sum to 1");
  }
  return 0;
}
