// Internal to the tools: the matings of a family (each pair of parents with
// their children; a mating becomes one nuclear family of iway.dat), and the
// checker behind parse_pedfile, split by job: reading the records
// (pedfile.cpp), resolving the parents (pedfile_parents.cpp) and the
// checks of the family graphs (pedfile_graph.cpp).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ped2iway.h"

namespace pedseg::tools {

struct Mating {
  int father = -1;
  int mother = -1;
  std::vector<int> children;  // in the order the people were visited
};

struct MatingGraph {
  std::vector<Mating> matings;               // in order of creation
  std::vector<std::vector<int>> parent_of;   // per person: matings as a parent
  std::vector<int> child_of;                 // per person: the parents' mating, or -1
};

// Visits the people in `order` (indices into fam.people); every person with
// two distinct known parents joins the mating of that pair, created when first
// met.
MatingGraph make_matings(const PedFamily& fam, const std::vector<int>& order);

// The loop breakers of a family: as few people as the search finds, whose
// matings as a parent, cut, leave the graph of people and matings without a
// cycle.  `cuts` gets, per cut, the person and the mating (index into
// g.matings) in which a copy takes the person's place; the number of cuts is
// the cycle rank of the graph.  Exact up to a budget of tried sets, greedy
// beyond it.
struct LoopCut {
  int person = -1;
  int mating = -1;
};
std::vector<LoopCut> choose_loop_cuts(int people, const MatingGraph& g);

struct PedChecker {
  const PedOptions& opt;
  std::vector<Problem>& problems;
  PedData data;
  std::vector<std::string> note_family;  // the family of each note

  void note(const std::string& fam, std::string text) {
    data.notes.push_back(std::move(text));
    note_family.push_back(fam);
  }

  void problem(int line, const std::string& fam, const std::string& ind, std::string msg) {
    problems.push_back(Problem{line, fam, ind, std::move(msg)});
  }

  // The steps, in the order parse_pedfile takes them.
  void read(std::string_view text);
  bool resolve_columns();  // the columns the options name; false after a problem
  void read_extra_columns(const std::vector<std::string>& f, int line, const std::string& fam,
                          PedPerson& p);
  void resolve_parents();
  void check_roles();
  void check_structure();  // per family, ancestry cycles, else loops
  void leave_out_bad_families(size_t from);
  void check_limits();
  void count_values();

  bool check_ancestry(const PedFamily& fam);
  void check_loops(const PedFamily& fam);
  void break_loops(PedFamily& fam);
};

}  // namespace pedseg::tools
