// The validator: every condition that would take a later step outside a
// table is an error, the oddities computed as written are warnings, and
// whatever it accepts is safe for the steps that follow.
#include <gtest/gtest.h>

#include <climits>
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
  std::vector<std::string> errors, warnings;
  bool has_error(const std::string& text) const { return has(errors, text); }
  static bool has(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  for (const std::string& l : o.errors) os << "error: " << l << "\n";
  for (const std::string& l : o.warnings) os << "warning: " << l << "\n";
  return os;
}

Outcome validate(const PedigreeTables& ped) {
  Outcome o;
  o.ok = validate_pedigree(ped, o.errors, o.warnings);
  return o;
}

TEST(Validate, WellFormedFilesGiveNeitherErrorsNorWarnings) {
  auto example = example_tables();
  // No families analysed (NFAM = -2 and -1), and families of loose
  // individuals only, one of them empty (NSTART = 2).
  auto none = make_tables(-2, {}, {}, {}, {}, {}, 0);
  auto first_only = make_tables(-1, {0}, {0}, {}, {}, {}, 0);
  auto loose = make_tables(3, {3, 0, 2, 2, 5}, {0, 0, 0, 0, 0}, {0, 0}, {}, {}, 5);
  for (const PedigreeTables* p : {example.get(), none.get(), first_only.get(), loose.get()}) {
    Outcome o = validate(*p);
    EXPECT_TRUE(o.ok && o.errors.empty() && o.warnings.empty()) << o;
  }
}

TEST(Validate, EachRejectConditionIsNamed) {
  const struct {
    std::function<void(PedigreeTables&)> spoil;
    const char* expected;
  } cases[] = {
      {[](PedigreeTables& p) { p.PED_START[0] = 3; },
       "iway.dat: PED_START(0) = 3 (the number of families to analyse) is outside 0 to 2 "
       "(the number of families read)"},
      {[](PedigreeTables& p) { p.PED_START[0] = -1; }, "PED_START(0) = -1"},
      {[](PedigreeTables& p) { p.PED_START[1] = -1; }, "family 1: PED_START(1) = -1 is below 0"},
      {[](PedigreeTables& p) { p.PED_START[3] = 12; },
       "family 2: its last individual, PED_START(3) = 12, is beyond 11 (the number of "
       "individuals)"},
      {[](PedigreeTables& p) { p.PED_START[1] = 6; }, "PED_START(2) = 5 is below PED_START(1) = 6"},
      {[](PedigreeTables& p) { p.PED_START[1] = INT_MIN; },
       "2147483653 individuals, more than 25000"},
      {[](PedigreeTables& p) { p.PED_NUC[3] = 4; },
       "iway.dat: family 2: its nuclear families 2 to 4 (PED_NUC(2)+1 to PED_NUC(3)) are "
       "outside 1 to 3 (the nuclear families read)"},
      {[](PedigreeTables& p) { p.PED_NUC[1] = -1; }, "family 1: its nuclear families 0 to 1"},
      {[](PedigreeTables& p) { p.PED_NUC[3] = 0; }, "PED_NUC(3) = 0 is below PED_NUC(2) = 1"},
      {[](PedigreeTables& p) { p.NUC_START[4] = INT_MAX; },
       "NUC_START(4) = 2147483647 is outside 0 to 11"},
      {[](PedigreeTables& p) { p.NUC_START[1] = -1; }, "nuclear family 1: NUC_START(1) = -1"},
      {[](PedigreeTables& p) { p.NUC_START[3] = 3; }, "list runs backwards (NUC_START(3) = 3"},
      {[](PedigreeTables& p) { p.NUC_START[3] = 5; },
       "iway.dat: family 2, nuclear family 2: its member list has 1 entry; it needs at least "
       "the two parents"},
      {[](PedigreeTables& p) { p.NUC_START[3] = 4; }, "its member list has 0 entries"},
      {[](PedigreeTables& p) { p.NUC_MEMBERS[6] = 7; },
       "iway.dat: family 2, nuclear family 2: member 7 at position 3 is outside 1 to 6 (the "
       "family's size)"},
      {[](PedigreeTables& p) { p.NUC_MEMBERS[0] = 0; }, "member 0 at position 1 is outside 1 to 5"},
      {[](PedigreeTables& p) { p.NUC_PIVOT[2] = 7; },
       "nuclear family 2: pivot 7 is outside 0 to 6"},
      {[](PedigreeTables& p) { p.NUC_PIVOT[1] = INT_MIN; }, "pivot -2147483648 is outside 0 to 5"},
      {[](PedigreeTables& p) { p.PED_START[3] = p.NIND = 5; },  // an empty family with lists
       "family 2, nuclear family 2: member 3 at position 1 is outside 1 to 0"},
  };
  for (const auto& c : cases) {
    auto ped = example_tables();
    c.spoil(*ped);
    Outcome o = validate(*ped);
    EXPECT_TRUE(!o.ok && o.has_error(c.expected)) << c.expected << "\n" << o;
  }
}

TEST(Validate, AllProblemsAreReportedInOneRunAndCappedPerCondition) {
  auto ped = example_tables();
  ped->NUC_MEMBERS[2] = -4;  // family 1
  ped->NUC_PIVOT[2] = 8;     // family 2
  ped->NUC_START[4] = 12;    // family 2
  Outcome o = validate(*ped);
  EXPECT_EQ(o.errors.size(), 3u) << o;
  EXPECT_TRUE(o.has_error("member -4") && o.has_error("pivot 8") && o.has_error("NUC_START(4)"));
  EXPECT_TRUE(o.warnings.empty()) << o;  // families with errors get none

  std::vector<int32_t> members = {1, 2};
  members.resize(52, 9);
  auto many = make_tables(1, {1, 0, 3}, {0, 0, 1}, {0, 0, 52}, members, {0}, 3);
  o = validate(*many);
  ASSERT_EQ(o.errors.size(), VALIDATE_MAX_LINES + 1u) << o;
  EXPECT_EQ(o.errors.back(), "iway.dat: 30 more cases not listed: member outside its family");
}

TEST(Validate, OnlyTheAnalysedFamiliesAreChecked) {
  auto ped = example_tables();
  ped->PED_START[0] = 1;
  ped->NUC_MEMBERS[6] = 700;  // family 2 is never touched
  EXPECT_TRUE(validate(*ped).ok);
  ped->NUC_MEMBERS[3] = 6;  // family 1 is
  EXPECT_FALSE(validate(*ped).ok);
}

TEST(Validate, OdditiesComputedAsWrittenAreWarnedOncePerFamily) {
  const struct {
    std::unique_ptr<PedigreeTables> ped;
    const char* expected;
  } cases[] = {
      {make_tables(1, {1, 0, 5}, {0, 0, 1}, {0, 0, 5}, {1, 2, 3, 4, 5}, {4}, 5),
       "iway.dat: family 1, nuclear family 1: pivot 4 is a child at position 4; a child pivot "
       "must stand at position 3 (computed as written)"},
      {make_tables(1, {1, 0, 4}, {0, 0, 1}, {0, 0, 3}, {1, 2, 3}, {4}, 4),
       "iway.dat: family 1, nuclear family 1: pivot 4 is not in its member list (computed as "
       "written)"},
      // Nuclear family 1 uses 3 before nuclear family 2 is peeled onto 3.
      {make_tables(1, {1, 0, 5}, {0, 0, 2}, {0, 0, 3, 6}, {1, 2, 3, 3, 4, 5}, {0, 3}, 5),
       "iway.dat: family 1, nuclear family 1: member 3 at position 3 is used before nuclear "
       "family 2, whose target it is, has been peeled (computed as written)"},
      {make_tables(1, {1, 0, 4}, {0, 0, 1}, {0, 0, 3}, {1, 2, 4}, {0}, 4),
       "iway.dat: family 1: individual 3 is in no member list but individual 4 is; loose "
       "individuals must carry the highest local numbers, so 3 to 4 are all taken as loose "
       "(computed as written)"},
      // Two families with two child pivots each at position 4: one line each.
      {make_tables(2, {2, 0, 4, 8}, {0, 0, 2, 4}, {0, 0, 4, 8, 12, 16},
                   {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, {4, 4, 4, 4}, 8),
       "iway.dat: family 2, nuclear family 3: pivot 4 is a child at position 4; a child pivot "
       "must stand at position 3 (computed as written) (2 cases in this family)"},
  };
  for (const auto& c : cases) {
    Outcome o = validate(*c.ped);
    EXPECT_TRUE(o.ok) << o;
    EXPECT_EQ(o.warnings.size(), static_cast<size_t>(c.ped->NFAM_READ)) << o;
    EXPECT_EQ(o.warnings.back(), c.expected);
  }
  // The same families in peeling order raise nothing.
  auto good = make_tables(1, {1, 0, 5}, {0, 0, 2}, {0, 0, 3, 6}, {3, 4, 5, 1, 2, 3}, {3, 0}, 5);
  EXPECT_TRUE(validate(*good).warnings.empty());
}

// The accesses of the steps after the validator (the counts of the run,
// set-up and peeling of each family with individuals, the search for its
// loose individuals): the first one outside the values read, or "".
std::string walk_later_steps(const PedigreeTables& ped) {
  for (int64_t f = 1; f <= ped.PED_START[0]; ++f) {
    if (f > ped.NFAM_READ || f > N_FAM) return "family not read";
    const int64_t lo = int64_t{ped.PED_START[f]} + 1, hi = ped.PED_START[f + 1];
    if (lo <= hi && (lo < 1 || hi > ped.NIND)) return "TRAIT";
    const int64_t n = hi - lo + 1;
    if (n <= 0) continue;
    for (int64_t j = int64_t{ped.PED_NUC[f]} + 1; j <= ped.PED_NUC[f + 1]; ++j) {
      if (j < 1 || j > ped.NSTART - 2) return "nuclear family";
      const int64_t a = ped.NUC_START[j], b = ped.NUC_START[j + 1];
      if (a < 0 || a + 1 >= b || b > ped.NMEMBER) return "member list";  // both parents read
      for (int64_t q = a; q < b; ++q) {
        if (ped.NUC_MEMBERS[q] < 1 || ped.NUC_MEMBERS[q] > n) return "member";
      }
      if (ped.NUC_PIVOT[j] < 0 || ped.NUC_PIVOT[j] > n) return "pivot";
    }
  }
  return "";
}

// Random changes of one to three entries of the example, with values at the
// ends of the 32-bit range among them; counts only as the reader leaves them.
TEST(Validate, AcceptedTablesKeepLaterStepsInsideTheTables) {
  const int32_t values[] = {-3, -1, 0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, INT_MIN, INT_MAX};
  std::mt19937 rng(12345);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto value = [&] { return values[pick(static_cast<int>(std::size(values)))]; };
  const auto base = example_tables();
  auto ped = example_tables();
  int accepted = 0, rejected = 0;
  for (int round = 0; round < 20000; ++round) {
    // Put back only what a round changes: copying 24 MB each time is slow.
    std::copy_n(base->PED_START, 6, ped->PED_START);
    std::copy_n(base->PED_NUC, 6, ped->PED_NUC);
    std::copy_n(base->NUC_START, 6, ped->NUC_START);
    std::copy_n(base->NUC_MEMBERS, 12, ped->NUC_MEMBERS);
    std::copy_n(base->NUC_PIVOT, 5, ped->NUC_PIVOT);
    ped->NFAM_READ = 2, ped->NSTART = 5, ped->NMEMBER = 11, ped->NIND = 11;
    for (int c = 1 + pick(3); c > 0; --c) {
      switch (pick(9)) {
        case 0:
          ped->PED_START[pick(4)] = value();
          break;
        case 1:
          ped->PED_NUC[pick(4)] = value();
          break;
        case 2:
          ped->NUC_START[pick(5)] = value();
          break;
        case 3:
          ped->NUC_MEMBERS[pick(11)] = value();
          break;
        case 4:
          ped->NUC_PIVOT[1 + pick(3)] = value();
          break;
        case 5:
          ped->NFAM_READ = std::min(value(), 2);
          break;
        case 6:
          ped->NSTART = std::min(value(), 5);
          break;
        case 7:
          ped->NMEMBER = std::min(value(), 11);
          break;
        case 8:
          ped->NIND = std::min(value(), 11);
          break;
      }
    }
    derive_weights(*ped);  // runs before the validator, on any file
    Outcome o = validate(*ped);
    ASSERT_EQ(o.ok, o.errors.empty());
    if (o.ok) {
      ASSERT_EQ(walk_later_steps(*ped), "") << "round " << round;
    }
    (o.ok ? accepted : rejected)++;
  }
  EXPECT_GT(accepted, 2000);  // both outcomes well represented
  EXPECT_GT(rejected, 2000);
}

}  // namespace
}  // namespace pedseg
