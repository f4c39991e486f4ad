// The validator of the pedigree tables.  Every later step (the counts of the
// run, the weights, the set-up and peeling of a family and the search for
// its loose individuals) indexes the tables with values taken from iway.dat;
// the errors found here are exactly the values that would take one of those
// steps outside a table, so a file without errors is safe to evaluate.  The
// warnings are oddities that are computed as written.
//
// Only the families 1 to PED_START(0) are checked: no step touches the
// others.  Those families are checked whatever their weight, so that whether
// a file is accepted does not depend on the trait values.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pedigree/layout.h"
#include "pedigree/pedigree.h"

namespace pedseg {

namespace {

enum Cond {
  // Errors.
  E_ANALYSED,
  E_FAM_BELOW,
  E_FAM_BEYOND,
  E_FAM_BACKWARDS,
  E_FAM_SIZE,
  E_NUC_RANGE,
  E_NUC_BACKWARDS,
  E_LIST_RANGE,
  E_LIST_BACKWARDS,
  E_LIST_SHORT,
  E_MEMBER,
  E_PIVOT,
  // Warnings.
  W_PIVOT_POSITION,
  W_PIVOT_NOT_MEMBER,
  W_ORDER,
  W_LOOSE,
  COND_COUNT
};

constexpr int FIRST_WARNING = W_PIVOT_POSITION;

const char* const COND_NAME[COND_COUNT] = {
    "number of families to analyse outside the families read",
    "family starting before the first individual",
    "family ending beyond the last individual",
    "family ending before it starts",
    "family larger than N_SIZE",
    "nuclear families outside those read",
    "nuclear families running backwards",
    "member list outside the members read",
    "member list running backwards",
    "member list without both parents",
    "member outside its family",
    "pivot outside its family",
    "child pivot not at position 3",
    "pivot not in its member list",
    "array used before the nuclear family that targets it is peeled",
    "loose individuals before listed ones",
};

std::string num(int64_t v) { return std::to_string(v); }

std::string where(int64_t f) { return "iway.dat: family " + num(f) + ": "; }

std::string where(int64_t f, int64_t j) {
  return "iway.dat: family " + num(f) + ", nuclear family " + num(j) + ": ";
}

// Collects the lines, at most VALIDATE_MAX_LINES per condition, and counts
// the rest.
class Report {
 public:
  Report(std::vector<std::string>& errors, std::vector<std::string>& warnings)
      : errors_(errors), warnings_(warnings) {}

  void add(Cond c, std::string line) {
    ++found_[c];
    if (found_[c] <= VALIDATE_MAX_LINES) out(c).push_back(std::move(line));
  }

  int64_t errors_found() const {
    int64_t n = 0;
    for (int c = 0; c < FIRST_WARNING; ++c) n += found_[c];
    return n;
  }

  void finish() {
    for (int c = 0; c < COND_COUNT; ++c) {
      const int64_t more = found_[c] - VALIDATE_MAX_LINES;
      if (more > 0) {
        out(static_cast<Cond>(c))
            .push_back("iway.dat: " + num(more) + " more case" + (more == 1 ? "" : "s") +
                       " not listed: " + COND_NAME[c]);
      }
    }
  }

 private:
  std::vector<std::string>& out(Cond c) { return c < FIRST_WARNING ? errors_ : warnings_; }

  std::vector<std::string>& errors_;
  std::vector<std::string>& warnings_;
  int64_t found_[COND_COUNT] = {};
};

// One warning line per condition and family: the first case, and how many
// there were.
struct FamilyWarning {
  int64_t count = 0;
  std::string first;

  void note(std::string text) {
    if (count++ == 0) first = std::move(text);
  }
  void flush(Report& report, Cond c) {
    if (count == 0) return;
    if (count > 1) first += " (" + num(count) + " cases in this family)";
    report.add(c, std::move(first));
  }
};

// The structural oddities of one family that passed every error check:
// n members, nuclear families j0+1 to j1.
void family_warnings(const PedigreeTables& ped, int64_t f, int64_t n, int64_t j0, int64_t j1,
                     std::vector<int32_t>& last_target, std::vector<Role>& roles, Report& report) {
  FamilyWarning position, not_member, order, loose;

  last_target.assign(static_cast<size_t>(n) + 1, 0);

  auto target_of = [&](int64_t j) -> int32_t {
    const int32_t p = ped.NUC_PIVOT[j];
    return p != 0 ? p : ped.NUC_MEMBERS[ped.NUC_START[j]];
  };

  for (int64_t j = j0 + 1; j <= j1; ++j) {
    const int64_t a = ped.NUC_START[j];
    const int64_t b = ped.NUC_START[j + 1];
    const int32_t first = ped.NUC_MEMBERS[a];
    const int32_t second = ped.NUC_MEMBERS[a + 1];
    const int32_t pivot = ped.NUC_PIVOT[j];
    last_target[target_of(j)] = static_cast<int32_t>(j);

    if (pivot == 0 || pivot == first || pivot == second) continue;
    int64_t at = 0;  // position of the pivot in the list, from 1
    for (int64_t q = a; q < b && at == 0; ++q) {
      if (ped.NUC_MEMBERS[q] == pivot) at = q - a + 1;
    }
    if (at == 0) {
      not_member.note(where(f, j) + "pivot " + num(pivot) +
                      " is not in its member list (computed as written)");
    } else if (ped.NUC_MEMBERS[a + 2] != pivot) {
      position.note(where(f, j) + "pivot " + num(pivot) + " is a child at position " + num(at) +
                    "; a child pivot must stand at position 3 (computed as written)");
    }
  }

  // A nuclear family consumes the arrays of its members other than its own
  // target; each must already be final, so no later nuclear family may
  // target it.
  for (int64_t j = j0 + 1; j <= j1; ++j) {
    const int64_t a = ped.NUC_START[j];
    const int64_t b = ped.NUC_START[j + 1];
    const int32_t target = target_of(j);
    for (int64_t q = a; q < b; ++q) {
      const int32_t m = ped.NUC_MEMBERS[q];
      if (m != target && last_target[m] > j) {
        order.note(where(f, j) + "member " + num(m) + " at position " + num(q - a + 1) +
                   " is used before nuclear family " + num(last_target[m]) +
                   ", whose target it is, has been peeled (computed as written)");
      }
    }
  }

  // The loose individuals are taken to be the first one in no list and
  // every one after it.
  roles.clear();
  const FamilyLayout fam = layout_family(ped, static_cast<int32_t>(f), roles);
  if (fam.last_listed > fam.first_loose) {
    loose.note(where(f) + "individual " + num(fam.first_loose) +
               " is in no member list but individual " + num(fam.last_listed) +
               " is; loose individuals must carry the highest local numbers, so " +
               num(fam.first_loose) + " to " + num(n) +
               " are all taken as loose (computed as written)");
  }

  position.flush(report, W_PIVOT_POSITION);
  not_member.flush(report, W_PIVOT_NOT_MEMBER);
  order.flush(report, W_ORDER);
  loose.flush(report, W_LOOSE);
}

}  // namespace

bool validate_pedigree(const PedigreeTables& ped, std::vector<std::string>& errors,
                       std::vector<std::string>& warnings) {
  Report report(errors, warnings);

  // The bounds of what was read, kept inside the tables even for tables
  // that were not filled by the reader.
  const int64_t fam_read = std::clamp<int64_t>(ped.NFAM_READ, 0, N_FAM);
  const int64_t ind_read = std::min<int64_t>(ped.NIND, N_SIZE);
  const int64_t nuc_read = std::min<int64_t>(int64_t{ped.NSTART} - 2, N_WAY - 2);
  const int64_t mem_read = std::min<int64_t>(ped.NMEMBER, N_WAY);

  const int64_t analysed = ped.PED_START[0];
  if (analysed < 0 || analysed > fam_read) {
    report.add(E_ANALYSED, "iway.dat: PED_START(0) = " + num(analysed) +
                               " (the number of families to analyse) is outside 0 to " +
                               num(fam_read) + " (the number of families read)");
  }
  const int64_t last = std::clamp<int64_t>(analysed, 0, fam_read);

  std::vector<int32_t> last_target;
  std::vector<Role> roles;

  for (int64_t f = 1; f <= last; ++f) {
    const int64_t before = report.errors_found();
    const int64_t start = ped.PED_START[f];
    const int64_t end = ped.PED_START[f + 1];
    const int64_t n = end - start;

    if (start < 0) {
      report.add(E_FAM_BELOW,
                 where(f) + "PED_START(" + num(f) + ") = " + num(start) +
                     " is below 0 (the family would start before the first individual)");
    }
    if (end > ind_read) {
      report.add(E_FAM_BEYOND, where(f) + "its last individual, PED_START(" + num(f + 1) +
                                   ") = " + num(end) + ", is beyond " + num(ind_read) +
                                   " (the number of individuals)");
    }
    if (end < start) {
      report.add(E_FAM_BACKWARDS, where(f) + "PED_START(" + num(f + 1) + ") = " + num(end) +
                                      " is below PED_START(" + num(f) + ") = " + num(start) +
                                      " (families must not overlap)");
    }
    if (n > N_SIZE) {
      report.add(E_FAM_SIZE, where(f) + "it has " + num(n) + " individuals, more than " +
                                 num(N_SIZE) + " (N_SIZE)");
    }
    // Members and pivots can be checked whenever the size is meaningful.
    const bool size_known = n >= 0 && n <= N_SIZE;

    const int64_t j0 = ped.PED_NUC[f];
    const int64_t j1 = ped.PED_NUC[f + 1];
    if (j1 < j0) {
      report.add(E_NUC_BACKWARDS, where(f) + "PED_NUC(" + num(f + 1) + ") = " + num(j1) +
                                      " is below PED_NUC(" + num(f) + ") = " + num(j0) +
                                      " (families must not share nuclear families)");
      continue;
    }
    if (j1 == j0) continue;  // no nuclear families
    if (j0 < 0 || j1 > nuc_read) {
      report.add(E_NUC_RANGE, where(f) + "its nuclear families " + num(j0 + 1) + " to " + num(j1) +
                                  " (PED_NUC(" + num(f) + ")+1 to PED_NUC(" + num(f + 1) +
                                  ")) are outside 1 to " + num(std::max<int64_t>(nuc_read, 0)) +
                                  " (the nuclear families read)");
      continue;
    }

    for (int64_t j = j0 + 1; j <= j1; ++j) {
      const int64_t a = ped.NUC_START[j];
      const int64_t b = ped.NUC_START[j + 1];
      const bool a_bad = a < 0 || a > mem_read;
      const bool b_bad = b < 0 || b > mem_read;
      if (a_bad || b_bad) {
        report.add(E_LIST_RANGE, where(f, j) + "NUC_START(" + num(a_bad ? j : j + 1) +
                                     ") = " + num(a_bad ? a : b) + " is outside 0 to " +
                                     num(ped.NMEMBER) + " (the number of members read)");
        continue;
      }
      if (b < a) {
        report.add(E_LIST_BACKWARDS, where(f, j) + "its member list runs backwards (NUC_START(" +
                                         num(j + 1) + ") = " + num(b) + " is below NUC_START(" +
                                         num(j) + ") = " + num(a) + ")");
        continue;
      }
      if (b - a < 2) {
        report.add(E_LIST_SHORT, where(f, j) + "its member list has " + num(b - a) + " entr" +
                                     (b - a == 1 ? "y" : "ies") +
                                     "; it needs at least the two parents");
      }
      if (!size_known) continue;
      for (int64_t q = a; q < b; ++q) {
        const int64_t m = ped.NUC_MEMBERS[q];
        if (m < 1 || m > n) {
          report.add(E_MEMBER, where(f, j) + "member " + num(m) + " at position " + num(q - a + 1) +
                                   " is outside 1 to " + num(n) + " (the family's size)");
        }
      }
      const int64_t p = ped.NUC_PIVOT[j];
      if (p < 0 || p > n) {
        report.add(E_PIVOT, where(f, j) + "pivot " + num(p) + " is outside 0 to " + num(n) +
                                " (the family's size)");
      }
    }

    if (report.errors_found() == before && size_known) {
      family_warnings(ped, f, n, j0, j1, last_target, roles, report);
    }
  }

  report.finish();
  return report.errors_found() == 0;
}

}  // namespace pedseg
