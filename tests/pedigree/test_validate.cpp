// The validator: every condition that would take a later step outside a
// table is an error, the oddities computed as written are warnings, and
// whatever it accepts is safe for the steps that follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pedigree/pedigree_fixtures.h"

namespace pedseg {
namespace {

using testing::example_tables;
using testing::make_tables;

struct Outcome {
  bool ok = false;
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};

Outcome validate(const PedigreeTables& ped) {
  Outcome o;
  o.ok = validate_pedigree(ped, o.errors, o.warnings);
  return o;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& l : lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

TEST(Validate, WellFormedExampleHasNeitherErrorsNorWarnings) {
  auto ped = example_tables();
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok);
  EXPECT_TRUE(o.errors.empty()) << joined(o.errors);
  EXPECT_TRUE(o.warnings.empty()) << joined(o.warnings);
}

TEST(Validate, FilesWithoutFamiliesOrNuclearFamiliesAreAccepted) {
  // NFAM = -2: nothing read, PED_START(0) stays 0.
  auto none = make_tables(-2, {}, {}, {}, {}, {}, 0);
  EXPECT_TRUE(validate(*none).ok);
  // NFAM = -1: only PED_START(0) read; 0 families analysed.
  auto one = make_tables(-1, {0}, {0}, {}, {}, {}, 0);
  EXPECT_TRUE(validate(*one).ok);
  // NSTART = 2: families made only of loose individuals, and an empty one.
  auto loose = make_tables(3, {3, 0, 2, 2, 5}, {0, 0, 0, 0, 0}, {0, 0}, {}, {}, 5);
  Outcome o = validate(*loose);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  EXPECT_TRUE(o.warnings.empty()) << joined(o.warnings);
}

// One malformed file per condition: it is rejected with a line that names
// iway.dat, the place and the broken condition.
struct RejectCase {
  const char* name;
  std::function<void(PedigreeTables&)> spoil;
  const char* expected;
};

TEST(Validate, EachRejectConditionIsNamed) {
  const std::vector<RejectCase> cases = {
      {"more families analysed than read", [](PedigreeTables& p) { p.PED_START[0] = 3; },
       "iway.dat: PED_START(0) = 3 (the number of families to analyse) is outside 0 to 2 "
       "(the number of families read)"},
      {"negative number analysed", [](PedigreeTables& p) { p.PED_START[0] = -1; },
       "iway.dat: PED_START(0) = -1 (the number of families to analyse) is outside 0 to 2"},
      {"family before the first individual", [](PedigreeTables& p) { p.PED_START[1] = -1; },
       "iway.dat: family 1: PED_START(1) = -1 is below 0"},
      {"family beyond the last individual", [](PedigreeTables& p) { p.PED_START[3] = 12; },
       "iway.dat: family 2: its last individual, PED_START(3) = 12, is beyond 11 (the number "
       "of individuals)"},
      {"family running backwards", [](PedigreeTables& p) { p.PED_START[1] = 6; },
       "iway.dat: family 1: PED_START(2) = 5 is below PED_START(1) = 6"},
      {"family larger than the tables", [](PedigreeTables& p) { p.PED_START[1] = -30000; },
       "iway.dat: family 1: it has 30005 individuals, more than 25000 (N_SIZE)"},
      {"nuclear families beyond those read", [](PedigreeTables& p) { p.PED_NUC[3] = 4; },
       "iway.dat: family 2: its nuclear families 2 to 4 (PED_NUC(2)+1 to PED_NUC(3)) are "
       "outside 1 to 3 (the nuclear families read)"},
      {"nuclear family 0", [](PedigreeTables& p) { p.PED_NUC[1] = -1; },
       "iway.dat: family 1: its nuclear families 0 to 1"},
      {"nuclear families running backwards", [](PedigreeTables& p) { p.PED_NUC[3] = 0; },
       "iway.dat: family 2: PED_NUC(3) = 0 is below PED_NUC(2) = 1"},
      {"list beyond the members read", [](PedigreeTables& p) { p.NUC_START[4] = 12; },
       "iway.dat: family 2, nuclear family 3: NUC_START(4) = 12 is outside 0 to 11 (the "
       "number of members read)"},
      {"list before the first member", [](PedigreeTables& p) { p.NUC_START[1] = -1; },
       "iway.dat: family 1, nuclear family 1: NUC_START(1) = -1 is outside 0 to 11"},
      {"list running backwards", [](PedigreeTables& p) { p.NUC_START[3] = 3; },
       "iway.dat: family 2, nuclear family 2: its member list runs backwards (NUC_START(3) = 3 "
       "is below NUC_START(2) = 4)"},
      {"list of one", [](PedigreeTables& p) { p.NUC_START[3] = 5; },
       "iway.dat: family 2, nuclear family 2: its member list has 1 entry; it needs at least "
       "the two parents"},
      {"empty list", [](PedigreeTables& p) { p.NUC_START[3] = 4; },
       "iway.dat: family 2, nuclear family 2: its member list has 0 entries"},
      {"member beyond the family", [](PedigreeTables& p) { p.NUC_MEMBERS[6] = 7; },
       "iway.dat: family 2, nuclear family 2: member 7 at position 3 is outside 1 to 6 (the "
       "family's size)"},
      {"member 0", [](PedigreeTables& p) { p.NUC_MEMBERS[0] = 0; },
       "iway.dat: family 1, nuclear family 1: member 0 at position 1 is outside 1 to 5"},
      {"pivot beyond the family", [](PedigreeTables& p) { p.NUC_PIVOT[2] = 7; },
       "iway.dat: family 2, nuclear family 2: pivot 7 is outside 0 to 6 (the family's size)"},
      {"negative pivot", [](PedigreeTables& p) { p.NUC_PIVOT[1] = -1; },
       "iway.dat: family 1, nuclear family 1: pivot -1 is outside 0 to 5"},
      {"nuclear families in an empty family",
       [](PedigreeTables& p) {
         p.PED_START[3] = 5;
         p.NIND = 5;
       },
       "iway.dat: family 2, nuclear family 2: member 3 at position 1 is outside 1 to 0"},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto ped = example_tables();
    c.spoil(*ped);
    Outcome o = validate(*ped);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(contains(o.errors, c.expected)) << joined(o.errors);
    for (const std::string& l : o.errors) EXPECT_EQ(l.rfind("iway.dat: ", 0), 0u) << l;
  }
}

TEST(Validate, ExtremeValuesAreRejectedWithoutOverflow) {
  auto ped = example_tables();
  ped->PED_START[1] = INT_MIN;
  ped->PED_START[2] = INT_MAX;
  ped->NUC_START[2] = INT_MAX;
  Outcome o = validate(*ped);
  EXPECT_FALSE(o.ok);
  EXPECT_TRUE(contains(o.errors, "PED_START(1) = -2147483648 is below 0"));
  EXPECT_TRUE(contains(o.errors, "it has 4294967295 individuals"));
  EXPECT_TRUE(contains(o.errors, "PED_START(2) = 2147483647, is beyond 11"));
  EXPECT_TRUE(contains(o.errors, "NUC_START(2) = 2147483647 is outside 0 to 11"));

  auto lists = example_tables();
  lists->NUC_PIVOT[3] = INT_MIN;
  lists->NUC_MEMBERS[10] = INT_MAX;
  lists->PED_NUC[1] = INT_MIN;
  Outcome l = validate(*lists);
  EXPECT_FALSE(l.ok);
  EXPECT_TRUE(contains(l.errors, "pivot -2147483648 is outside 0 to 6"));
  EXPECT_TRUE(contains(l.errors, "member 2147483647 at position 4 is outside 1 to 6"));
  EXPECT_TRUE(contains(l.errors, "its nuclear families -2147483647 to 1"));
}

TEST(Validate, AllProblemsOfAFileAreReportedInOneRun) {
  auto ped = example_tables();
  ped->NUC_MEMBERS[1] = 9;   // family 1: member beyond the family
  ped->NUC_MEMBERS[2] = -4;  // and another in the same list
  ped->NUC_PIVOT[2] = 8;     // family 2: pivot beyond the family
  ped->NUC_START[4] = 12;    // family 2: last list beyond the members
  Outcome o = validate(*ped);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.errors.size(), 4u) << joined(o.errors);
  EXPECT_TRUE(contains(o.errors, "member 9 at position 2"));
  EXPECT_TRUE(contains(o.errors, "member -4 at position 3"));
  EXPECT_TRUE(contains(o.errors, "pivot 8 is outside"));
  EXPECT_TRUE(contains(o.errors, "NUC_START(4) = 12"));
  // A family with errors gets no warnings: its oddities mean nothing yet.
  EXPECT_TRUE(o.warnings.empty()) << joined(o.warnings);
}

TEST(Validate, LinesPerConditionAreCapped) {
  // One family of 3, one list: the two parents and 50 members beyond it.
  std::vector<int32_t> members = {1, 2};
  for (int i = 0; i < 50; ++i) members.push_back(9);
  auto ped = make_tables(1, {1, 0, 3}, {0, 0, 1}, {0, 0, 52}, members, {0}, 3);
  Outcome o = validate(*ped);
  EXPECT_FALSE(o.ok);
  ASSERT_EQ(o.errors.size(), static_cast<size_t>(VALIDATE_MAX_LINES) + 1);
  EXPECT_EQ(o.errors.back(), "iway.dat: 30 more cases not listed: member outside its family");
  EXPECT_TRUE(contains(o.errors, "member 9 at position 22 is outside"));
  EXPECT_FALSE(contains(o.errors, "member 9 at position 23 is outside"));
}

TEST(Validate, OnlyTheAnalysedFamiliesAreChecked) {
  auto ped = example_tables();
  ped->PED_START[0] = 1;      // family 2 is never touched
  ped->NUC_MEMBERS[6] = 700;  // so its broken member list does not matter
  ped->NUC_PIVOT[3] = -5;
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  // Family 1 is still checked.
  ped->NUC_MEMBERS[3] = 6;
  EXPECT_FALSE(validate(*ped).ok);
}

// Warnings: one small family per condition, each otherwise well formed.
TEST(Validate, ChildPivotNotAtPositionThreeIsAWarning) {
  auto ped = make_tables(1, {1, 0, 5}, {0, 0, 1}, {0, 0, 5}, {1, 2, 3, 4, 5}, {4}, 5);
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  ASSERT_EQ(o.warnings.size(), 1u) << joined(o.warnings);
  EXPECT_EQ(o.warnings[0],
            "iway.dat: family 1, nuclear family 1: pivot 4 is a child at position 4; a child "
            "pivot must stand at position 3 (computed as written)");
}

TEST(Validate, PivotOutsideItsListIsAWarning) {
  auto ped = make_tables(1, {1, 0, 4}, {0, 0, 1}, {0, 0, 3}, {1, 2, 3}, {4}, 4);
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  ASSERT_EQ(o.warnings.size(), 1u) << joined(o.warnings);
  EXPECT_EQ(o.warnings[0],
            "iway.dat: family 1, nuclear family 1: pivot 4 is not in its member list "
            "(computed as written)");
}

TEST(Validate, ArrayConsumedBeforeItIsPeeledIsAWarning) {
  // Nuclear family 1 (parents 1, 2, child 3) uses 3, which nuclear family 2
  // (parents 3, 4, child 5) only later peels onto 3.
  auto ped = make_tables(1, {1, 0, 5}, {0, 0, 2}, {0, 0, 3, 6}, {1, 2, 3, 3, 4, 5}, {0, 3}, 5);
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  ASSERT_EQ(o.warnings.size(), 1u) << joined(o.warnings);
  EXPECT_EQ(o.warnings[0],
            "iway.dat: family 1, nuclear family 1: member 3 at position 3 is used before "
            "nuclear family 2, whose target it is, has been peeled (computed as written)");
  // In the right order there is nothing to say.
  auto good = make_tables(1, {1, 0, 5}, {0, 0, 2}, {0, 0, 3, 6}, {3, 4, 5, 1, 2, 3}, {3, 0}, 5);
  Outcome g = validate(*good);
  EXPECT_TRUE(g.ok);
  EXPECT_TRUE(g.warnings.empty()) << joined(g.warnings);
}

TEST(Validate, LooseIndividualBeforeAListedOneIsAWarning) {
  auto ped = make_tables(1, {1, 0, 4}, {0, 0, 1}, {0, 0, 3}, {1, 2, 4}, {0}, 4);
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  ASSERT_EQ(o.warnings.size(), 1u) << joined(o.warnings);
  EXPECT_EQ(o.warnings[0],
            "iway.dat: family 1: individual 3 is in no member list but individual 4 is; loose "
            "individuals must carry the highest local numbers, so 3 to 4 are all taken as "
            "loose (computed as written)");
}

TEST(Validate, AWarningIsGivenOncePerConditionAndFamily) {
  // Two families, each with two lists whose child pivots stand at position 4.
  auto ped = make_tables(2, {2, 0, 4, 8}, {0, 0, 2, 4}, {0, 0, 4, 8, 12, 16},
                         {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, {4, 4, 4, 4}, 8);
  Outcome o = validate(*ped);
  EXPECT_TRUE(o.ok) << joined(o.errors);
  ASSERT_EQ(o.warnings.size(), 2u) << joined(o.warnings);
  EXPECT_TRUE(contains(o.warnings, "family 1, nuclear family 1: pivot 4 is a child at position 4"));
  EXPECT_TRUE(contains(o.warnings, "family 2, nuclear family 3: pivot 4 is a child at position 4"));
  EXPECT_TRUE(contains(o.warnings, "(2 cases in this family)"));
}

// ---------------------------------------------------------------------------
// Whatever the validator accepts must keep every later step inside the
// tables.  The walk below makes the accesses of those steps (the counts of
// the run, the set-up and peeling of each family with individuals, the
// search for its loose individuals) and reports the first index outside the
// values that were read.

std::string walk_later_steps(const PedigreeTables& ped) {
  const int64_t nfam = ped.PED_START[0];
  const int64_t fam_read = ped.NFAM_READ;
  const int64_t nuc_read = ped.NSTART - int64_t{2};
  for (int64_t f = 1; f <= nfam; ++f) {
    if (f > fam_read || f > N_FAM) return "family " + std::to_string(f) + " was not read";
    const int64_t lo = int64_t{ped.PED_START[f]} + 1;
    const int64_t hi = ped.PED_START[f + 1];
    for (int64_t i = lo; i <= hi; ++i) {
      if (i < 1 || i > ped.NIND) return "TRAIT(" + std::to_string(i) + ")";
    }
    const int64_t n = hi - lo + 1;
    if (n <= 0) continue;
    if (n > N_SIZE) return "family larger than IND_LIK";
    for (int64_t j = int64_t{ped.PED_NUC[f]} + 1; j <= ped.PED_NUC[f + 1]; ++j) {
      if (j < 1 || j > nuc_read) return "nuclear family " + std::to_string(j);
      const int64_t a = ped.NUC_START[j];
      const int64_t b = ped.NUC_START[j + 1];
      // The peeling always reads the two parents.
      if (a < 0 || a + 1 >= b || b > ped.NMEMBER) return "member list " + std::to_string(j);
      for (int64_t q = a; q < b; ++q) {
        if (ped.NUC_MEMBERS[q] < 1 || ped.NUC_MEMBERS[q] > n) return "member";
      }
      if (ped.NUC_PIVOT[j] < 0 || ped.NUC_PIVOT[j] > n) return "pivot";
    }
  }
  return "";
}

// Random changes of one to three entries of a well-formed file, among them
// values at the ends of the 32-bit range.
TEST(Validate, AcceptedTablesKeepLaterStepsInsideTheTables) {
  const int32_t values[] = {-3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, INT_MIN, INT_MAX};
  std::mt19937 rng(12345);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto value = [&] { return values[pick(static_cast<int>(std::size(values)))]; };

  int accepted = 0, rejected = 0;
  auto ped = std::make_unique<PedigreeTables>();
  const auto base = example_tables();
  // Copying all 24 MB every round would be slow: put back the entries that
  // a round can change.
  auto restore = [&] {
    std::copy_n(base->PED_START, 8, ped->PED_START);
    std::copy_n(base->PED_NUC, 8, ped->PED_NUC);
    std::copy_n(base->NUC_START, 8, ped->NUC_START);
    std::copy_n(base->NUC_MEMBERS, 12, ped->NUC_MEMBERS);
    std::copy_n(base->NUC_PIVOT, 8, ped->NUC_PIVOT);
    std::copy_n(base->PED_WEIGHT, N_FAM + 1, ped->PED_WEIGHT);
    ped->NFAM = base->NFAM;
    ped->NFAM_READ = base->NFAM_READ;
    ped->NSTART = base->NSTART;
    ped->NMEMBER = base->NMEMBER;
    ped->NIND = base->NIND;
  };
  for (int round = 0; round < 20000; ++round) {
    restore();
    const int changes = 1 + pick(3);
    for (int c = 0; c < changes; ++c) {
      switch (pick(9)) {
        case 0: ped->PED_START[pick(4)] = value(); break;
        case 1: ped->PED_NUC[pick(4)] = value(); break;
        case 2: ped->NUC_START[pick(5)] = value(); break;
        case 3: ped->NUC_MEMBERS[pick(11)] = value(); break;
        case 4: ped->NUC_PIVOT[1 + pick(3)] = value(); break;
        // Counts as the reader can leave them (never beyond the limits).
        case 5: ped->NFAM_READ = std::min(value(), 2); break;
        case 6: ped->NSTART = std::min(value(), 5); break;
        case 7: ped->NMEMBER = std::min(value(), 11); break;
        case 8: ped->NIND = std::min(value(), 11); break;
      }
    }
    // The weights come before the validator and must survive any file.
    derive_weights(*ped);
    std::vector<std::string> errors, warnings;
    if (validate_pedigree(*ped, errors, warnings)) {
      ++accepted;
      ASSERT_EQ(walk_later_steps(*ped), "") << "round " << round;
      EXPECT_TRUE(errors.empty());
    } else {
      ++rejected;
      EXPECT_FALSE(errors.empty());
    }
  }
  // Both outcomes must be well represented for the test to mean anything.
  EXPECT_GT(accepted, 2000);
  EXPECT_GT(rejected, 2000);
}

}  // namespace
}  // namespace pedseg
