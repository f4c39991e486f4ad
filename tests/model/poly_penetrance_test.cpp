// Polygenic tables and penetrance.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "model/model.h"

using namespace pedseg;

TEST(Binomial, EdgeCases) {
  EXPECT_EQ(BINOMIAL(6, 3), 20.0);
  EXPECT_EQ(BINOMIAL(3, 5), 0.0);
  EXPECT_EQ(BINOMIAL(0, 0), 1.0);
  EXPECT_EQ(BINOMIAL(6, 6), 1.0);
  EXPECT_EQ(BINOMIAL(200, 200), 1.0);  // factorials overflow, the answer does not
  EXPECT_EQ(BINOMIAL(5, 0), 1.0);
  EXPECT_EQ(BINOMIAL(0, 1), 0.0);
  EXPECT_EQ(BINOMIAL(6, 1), 6.0);
  EXPECT_EQ(BINOMIAL(12, 5), 792.0);
}

TEST(PolyTables, GameteTable) {
  PolyTables p;
  BUILD_TRANS_POLY(p);
  const double want[7][4] = {{1, 0, 0, 0},           {0.5, 0.5, 0, 0},     {0.2, 0.6, 0.2, 0},
                             {0.05, 0.45, 0.45, 0.05}, {0, 0.2, 0.6, 0.2}, {0, 0, 0.5, 0.5},
                             {0, 0, 0, 1}};
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 3; ++j) {
      if (want[i][j] == 0.0) {
        EXPECT_EQ(p.GAMETE_PROB[j][i], 0.0) << i << "," << j;
      }
      EXPECT_NEAR(p.GAMETE_PROB[j][i], want[i][j], 1e-15) << i << "," << j;
    }
}

TEST(PolyTables, TransmissionRowsSymmetryAndSums) {
  PolyTables p;
  p.NCLASS = 0;
  BUILD_TRANS_POLY(p);
  EXPECT_EQ(p.NCLASS, 7);
  struct Row { int k1, k2; double v[7]; };
  const Row rows[] = {{1, 1, {1, 0, 0, 0, 0, 0, 0}},
                      {1, 7, {0, 0, 0, 1, 0, 0, 0}},
                      {7, 7, {0, 0, 0, 0, 0, 0, 1}},
                      {4, 1, {0.05, 0.45, 0.45, 0.05, 0, 0, 0}},
                      {2, 3, {0.1, 0.4, 0.4, 0.1, 0, 0, 0}},
                      {3, 5, {0, 0.04, 0.24, 0.44, 0.24, 0.04, 0}},
                      {4, 4, {0.0025, 0.045, 0.2475, 0.41, 0.2475, 0.045, 0.0025}}};
  for (const Row& r : rows)
    for (int k = 1; k <= 7; ++k) {
      EXPECT_NEAR(trans_poly(p, k, r.k1, r.k2), r.v[k - 1], 1e-15) << r.k1 << r.k2 << k;
      EXPECT_NEAR(trans_poly(p, k, r.k2, r.k1), r.v[k - 1], 1e-15) << r.k2 << r.k1 << k;
    }
  for (int k1 = 1; k1 <= 7; ++k1)
    for (int k2 = 1; k2 <= 7; ++k2) {
      double sum = 0.0;
      for (int k = 1; k <= 7; ++k) {
        EXPECT_EQ(trans_poly(p, k, k1, k2), trans_poly(p, k, k2, k1));
        EXPECT_GE(trans_poly(p, k, k1, k2), 0.0);
        sum += trans_poly(p, k, k1, k2);
      }
      EXPECT_NEAR(sum, 1.0, 1e-15) << k1 << "," << k2;
    }
}

TEST(PolyTables, PriorIsExactBinomial) {
  PolyTables p;
  BUILD_TRANS_POLY(p);
  BUILD_POLY_PRIOR(p);
  const double want[8] = {0, 1 / 64.0, 6 / 64.0, 15 / 64.0, 20 / 64.0, 15 / 64.0, 6 / 64.0, 1 / 64.0};
  double sum = 0.0;
  for (int k = 1; k <= 7; ++k) {
    EXPECT_EQ(p.POLY_PRIOR[k], want[k]);
    sum += p.POLY_PRIOR[k];
  }
  EXPECT_EQ(sum, 1.0);
  EXPECT_EQ(p.POLY_PRIOR[0], 0.0);
}

TEST(PolyTables, RefusesSizesTheTablesCannotHold) {
  PolyTables p;
  p.NLOCI = 4;
  EXPECT_THROW(BUILD_TRANS_POLY(p), std::invalid_argument);
  p.NCLASS = 9;
  EXPECT_THROW(BUILD_POLY_PRIOR(p), std::invalid_argument);
}

// One individual (global number 2) of genotype 2.
struct PenetranceFixture : ::testing::Test {
  float trait[4] = {0.0f, 5.0f, 0.0f, 5.0f};
  ModelQuantities m;
  void SetUp() override {
    m.GEN_MEAN[1] = -7.0;
    m.GEN_MEAN[2] = 1.0;
    m.GEN_MEAN[3] = 9.0;
    m.SPIKE_PROB[1] = 0.3;
    m.SPIKE_PROB[2] = 0.1;
    m.SPIKE_PROB[3] = 0.7;
    m.RES_VAR = 0.25;
  }
  double pen(float y, int g, int k) {
    trait[2] = y;
    return PENETRANCE(trait, m, 2, g, k);
  }
};

TEST_F(PenetranceFixture, MeasuredValueDensity) {
  EXPECT_NEAR(pen(1.5f, 2, 4), 0.43554734766, 5e-12);
  // The class shifts the mean by (k-4) times the effect.
  m.GEN_MEAN[2] = 0.25;
  m.POLY_EFFECT = -0.25;
  EXPECT_NEAR(pen(1.5f, 2, 1), 0.43554734766, 5e-12);
  m.POLY_EFFECT = 0.25;
  EXPECT_NEAR(pen(1.5f, 2, 7), 0.43554734766, 5e-12);
  // At the mean with unit variance: the density with 2 pi as a float.
  m.GEN_MEAN[3] = 2.0;
  m.SPIKE_PROB[3] = 0.0;
  m.RES_VAR = 1.0;
  EXPECT_NEAR(pen(2.0f, 3, 4), 0.39894232026, 5e-12);
}

TEST_F(PenetranceFixture, SentinelLimits) {
  m.SPIKE_PROB[3] = 0.0;
  m.RES_VAR = 1.0;
  for (int g = 1; g <= 3; ++g)
    for (int k = 1; k <= 7; ++k) {
      EXPECT_EQ(pen(-998.0f, g, k), 1.0);
      EXPECT_EQ(pen(-1.0e6f, g, k), 1.0);
      EXPECT_EQ(pen(998.5f, g, k), m.SPIKE_PROB[g]);
    }
  m.GEN_MEAN[3] = -997.5;
  EXPECT_NEAR(pen(-997.5f, 3, 4), 0.39894232026, 5e-12);
  m.GEN_MEAN[3] = 998.0;
  EXPECT_NEAR(pen(998.0f, 3, 4), 0.39894232026, 5e-12);
}

TEST_F(PenetranceFixture, NonPositiveVarianceGivesZeroDensity) {
  for (double v : {0.0, -1.0}) {
    m.RES_VAR = v;
    EXPECT_EQ(pen(1.0f, 2, 4), 0.0);
    EXPECT_EQ(pen(-998.0f, 2, 4), 1.0);
    EXPECT_EQ(pen(999.0f, 2, 4), 0.1);
  }
}
