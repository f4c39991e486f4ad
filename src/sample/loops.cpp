// loops.dat: the copies ped2iway made where it cut the loops of a family,
// checked against the validated tables so that every copy stands for its
// person in a family that peels as a tree.
#include <charconv>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "params/codes.h"
#include "sample/sample.h"

namespace pedseg {

namespace {

std::string num(int64_t v) { return std::to_string(v); }

// The whole-number fields of one line separated by blanks; false when a
// field is not a number.
bool fields_of(std::string_view line, std::vector<int64_t>& out) {
  out.clear();
  size_t p = 0;
  for (;;) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t' || line[p] == '\r')) ++p;
    if (p == line.size()) return true;
    size_t q = p;
    while (q < line.size() && line[q] != ' ' && line[q] != '\t' && line[q] != '\r') ++q;
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(line.data() + p, line.data() + q, v);
    if (ec != std::errc() || end != line.data() + q) return false;
    out.push_back(v);
    p = q;
  }
}

// The first member of family f's lists that a nuclear family peels away and
// a later one lists again ("" when they peel as a tree).
std::string remaining_loop(const PedigreeTables& ped, int32_t f) {
  const int32_t start = ped.PED_START[f];
  std::map<int32_t, int32_t> peeled_by;  // member -> nuclear family
  for (int32_t j = ped.PED_NUC[f] + 1; j <= ped.PED_NUC[f + 1]; ++j) {
    const int32_t target = ped.NUC_PIVOT[j] != 0 ? ped.NUC_PIVOT[j] : ped.NUC_MEMBERS[ped.NUC_START[j]];
    for (int32_t q = ped.NUC_START[j]; q < ped.NUC_START[j + 1]; ++q) {
      const int32_t m = ped.NUC_MEMBERS[q];
      const auto gone = peeled_by.find(m);
      if (gone != peeled_by.end())
        return "individual " + num(start + m) + " is peeled away by nuclear family " +
               num(gone->second) + " and listed again in nuclear family " + num(j);
    }
    for (int32_t q = ped.NUC_START[j]; q < ped.NUC_START[j + 1]; ++q)
      if (ped.NUC_MEMBERS[q] != target) peeled_by.emplace(ped.NUC_MEMBERS[q], j);
  }
  return "";
}

}  // namespace

std::vector<LoopCopy> read_loops(const InputFile& file, const PedigreeTables& ped,
                                 const PedigreeLayout& layout, int32_t max_breakers) {
  std::vector<LoopCopy> loops;
  std::map<int32_t, int> copy_line, person_line;        // global number -> line
  std::map<int32_t, std::set<int32_t>> breakers;        // family -> persons
  std::map<int32_t, int> family_line;                   // family -> its first line
  std::vector<int64_t> v;
  const std::string_view text = std::string_view(file.data).substr(file.pos);
  int line_no = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_no;
    const auto fail = [&](const std::string& problem) {
      throw InputError{file.name + ", line " + num(line_no) + ": " + problem};
    };
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    if (!fields_of(line, v) || v.size() != 3)
      fail("expected three whole numbers: the family, the person and its copy");
    const int64_t f = v[0], person = v[1], copy = v[2];
    if (f < 1 || f > layout.nfam())
      fail("family " + num(f) + " is outside 1 to " + num(layout.nfam()) +
           " (the families of iway.dat)");
    const FamilyLayout& fam = layout[static_cast<int32_t>(f)];
    const std::string range = " (individuals " + num(fam.start + 1) + " to " +
                              num(fam.start + fam.size) + ")";
    for (const int64_t i : {person, copy})
      if (i <= fam.start || i > fam.start + fam.size)
        fail((i == person ? "person " : "copy ") + num(i) + " is outside family " + num(f) + range);
    const int32_t p = static_cast<int32_t>(person), c = static_cast<int32_t>(copy);
    if (c == p) fail("copy " + num(c) + " is its own person");
    if (copy_line.count(c)) fail("copy " + num(c) + " is listed twice (first on line " +
                                 num(copy_line[c]) + ")");
    if (person_line.count(c))
      fail("copy " + num(c) + " is the person of line " + num(person_line[c]) +
           "; a person with copies cannot be a copy");
    if (copy_line.count(p))
      fail("person " + num(p) + " is the copy of line " + num(copy_line[p]) +
           "; a copy cannot have copies");
    const int32_t f32 = static_cast<int32_t>(f);
    if (layout.role(f32, c - fam.start) != Role::Parent)
      fail("copy " + num(c) + " is not a founder: a copy stands only as a parent in its "
           "family's nuclear families, never as a child, and in at least one");
    if (trait_counts_measured(ped.TRAIT[c]) || !trait_missing(ped.TRAIT[c]))
      fail("copy " + num(c) + " has a trait value (" + shortest_text(ped.TRAIT[c]) +
           "); a copy's trait is missing");
    if (layout.role(f32, p - fam.start) == Role::Loose)
      fail("person " + num(p) + " stands in no nuclear family, so it breaks no loop");
    std::set<int32_t>& persons = breakers[f32];
    persons.insert(p);
    if (static_cast<int32_t>(persons.size()) > max_breakers)
      fail("family " + num(f) + " has more than " + num(max_breakers) +
           " loop breakers (persons with copies); each multiplies its work by 21 "
           "(pedseg-models --max-breakers raises the limit)");
    copy_line[c] = line_no;
    person_line.emplace(p, line_no);
    family_line.emplace(f32, line_no);
    loops.push_back({f32, p, c});
  }
  for (const auto& [f, line] : family_line) {
    const std::string loop = remaining_loop(ped, f);
    if (!loop.empty())
      throw InputError{file.name + ", line " + num(line) + ": family " + num(f) +
                       " still has a loop after its cuts: " + loop};
  }
  return loops;
}

}  // namespace pedseg
