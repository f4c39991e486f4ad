// Reading and checking a pedigree file in the one-line-per-person layout:
// the steps in order, and what a family left out takes with it.

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "pedfile_check.h"

namespace pedseg::tools {

// Moves the problems of each family (those from `from` on) into
// data.skipped and drops the family with its notes.
void PedChecker::leave_out_bad_families(size_t from) {
  std::unordered_map<std::string, size_t> index;
  std::vector<Problem> kept;
  for (size_t k = from; k < problems.size(); ++k) {
    Problem& p = problems[k];
    if (p.family.empty()) {
      kept.push_back(std::move(p));
      continue;
    }
    auto [it, fresh] = index.try_emplace(p.family, data.skipped.size());
    if (fresh) data.skipped.push_back(SkippedFamily{p.family, {}});
    data.skipped[it->second].problems.push_back(std::move(p));
  }
  problems.resize(from);
  for (auto& p : kept) problems.push_back(std::move(p));
  if (data.skipped.empty()) return;
  auto bad = [&](const std::string& fam) { return index.count(fam) > 0; };
  std::erase_if(data.families, [&](const PedFamily& f) { return bad(f.id); });
  std::vector<std::string> notes;
  for (size_t k = 0; k < data.notes.size(); ++k)
    if (!bad(note_family[k])) notes.push_back(std::move(data.notes[k]));
  data.notes = std::move(notes);
  auto by_line = [](const Problem& a, const Problem& b) { return a.line < b.line; };
  for (auto& sf : data.skipped) std::stable_sort(sf.problems.begin(), sf.problems.end(), by_line);
  std::stable_sort(data.skipped.begin(), data.skipped.end(),
                   [](const SkippedFamily& a, const SkippedFamily& b) {
                     return a.problems.front().line < b.problems.front().line;
                   });
  if (data.families.empty() && problems.size() == from)
    problem(0, "", "", "every family has a problem and was left out; nothing to write");
}

std::string format_problem(const Problem& p) {
  std::string s;
  if (p.line > 0) s += "line " + std::to_string(p.line) + ": ";
  if (!p.family.empty()) {
    s += "family " + p.family;
    if (!p.individual.empty()) s += ", individual " + p.individual;
    s += ": ";
  }
  return s + p.message;
}

PedData parse_pedfile(std::string_view text, const PedOptions& options,
                      std::vector<Problem>& problems) {
  const size_t before = problems.size();
  PedChecker ck{options, problems, {}, {}};
  ck.read(text);
  ck.resolve_parents();
  ck.check_roles();
  ck.check_structure();
  if (options.skip_bad_families) ck.leave_out_bad_families(before);
  ck.check_limits();
  ck.count_values();
  std::stable_sort(problems.begin() + static_cast<std::ptrdiff_t>(before), problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  return std::move(ck.data);
}

}  // namespace pedseg::tools
