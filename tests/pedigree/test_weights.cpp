// Family weights: 1/c over the values that are not below -998.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <memory>

#include "pedigree/pedigree_fixtures.h"

namespace pedseg {
namespace {

// Families laid end to end with the given traits; PED_START(0) = `analysed`.
std::unique_ptr<PedigreeTables> families(int32_t analysed,
                                         std::initializer_list<std::initializer_list<float>> fams) {
  auto ped = std::make_unique<PedigreeTables>();
  int32_t f = 0, i = 0;
  for (const auto& traits : fams) {
    ped->PED_START[++f] = i;
    for (float t : traits) ped->TRAIT[++i] = t;
  }
  ped->PED_START[f + 1] = i;
  ped->PED_START[0] = analysed;
  ped->NFAM = ped->NFAM_READ = f;
  ped->NIND = i;
  return ped;
}

TEST(DeriveWeights, OneOverTheMeasuredCount) {
  auto ped = families(4, {{10.5f, -999.0f, 1000.0f, 12.0f},
                          {-999.0f, -999.0f},
                          {-999.0f, -998.0f},
                          {-998.0001f, 3.0f, -1.0E30f}});
  derive_weights(*ped);
  EXPECT_EQ(ped->PED_WEIGHT[1], 0.3333333333333333);
  EXPECT_EQ(ped->PED_WEIGHT[2], 0.0);
  EXPECT_EQ(ped->PED_WEIGHT[3], 1.0);  // exactly -998 counts
  EXPECT_EQ(ped->PED_WEIGHT[4], 1.0);  // just below it does not
}

TEST(DeriveWeights, OnlyTheAnalysedFamiliesGetWeights) {
  auto ped = families(1, {{1.0f, 2.0f}, {3.0f}});
  derive_weights(*ped);
  EXPECT_EQ(ped->NFAM, 1);
  EXPECT_EQ(ped->PED_WEIGHT[1], 0.5);
  EXPECT_EQ(ped->PED_WEIGHT[2], 0.0);
}

TEST(DeriveWeights, EmptyOrBackwardFamiliesWeighNothing) {
  auto ped = families(3, {{}, {1.0f}, {2.0f}});
  ped->PED_START[3] = 0;  // family 2 ends before it starts; family 3 overlaps
  derive_weights(*ped);
  EXPECT_EQ(ped->PED_WEIGHT[1], 0.0);
  EXPECT_EQ(ped->PED_WEIGHT[2], 0.0);
  EXPECT_EQ(ped->PED_WEIGHT[3], 0.5);
}

TEST(DeriveWeights, MalformedStartsStayInsideTheTables) {
  // A number of families far beyond the tables: NFAM takes it, the weights
  // stop at the last family the tables hold.
  auto many = families(INT_MAX, {{1.0f}});
  many->PED_WEIGHT[N_FAM] = 9.0;
  derive_weights(*many);
  EXPECT_EQ(many->NFAM, INT_MAX);
  EXPECT_EQ(many->PED_WEIGHT[1], 1.0);
  EXPECT_EQ(many->PED_WEIGHT[N_FAM], 0.0);

  auto none = families(-7, {{1.0f}});
  derive_weights(*none);
  EXPECT_EQ(none->NFAM, -7);
  EXPECT_EQ(none->PED_WEIGHT[1], 0.0);

  // Ranges leaving TRAIT give no weight; one ending on its last entry does.
  auto ranges = families(3, {{1.0f}, {2.0f}, {3.0f}});
  ranges->PED_START[1] = -3;
  ranges->PED_START[2] = 1;
  ranges->PED_START[3] = N_SIZE;
  ranges->PED_START[4] = INT_MAX;
  derive_weights(*ranges);
  EXPECT_EQ(ranges->PED_WEIGHT[1], 0.0);
  EXPECT_EQ(ranges->PED_WEIGHT[2], 1.0 / static_cast<double>(N_SIZE - 1));
  EXPECT_EQ(ranges->PED_WEIGHT[3], 0.0);
}

}  // namespace
}  // namespace pedseg
