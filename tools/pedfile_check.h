// The checker behind parse_pedfile, split by job: reading the records
// (pedfile_read.cpp), resolving the parents (pedfile_parents.cpp) and the
// checks of the family graphs (pedfile_graph.cpp).  Internal to the tools.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ped2iway.h"

namespace pedseg::tools {

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
  void resolve_parents();
  void check_roles();
  void check_structure();  // per family, ancestry cycles, else loops
  void leave_out_bad_families(size_t from);
  void check_limits();
  void count_values();

  bool check_ancestry(const PedFamily& fam);
  void check_loops(const PedFamily& fam);
};

}  // namespace pedseg::tools
