// Parameter mapping: links, bound checks and messages, frequencies and the
// major-gene transmission table.
#include <gtest/gtest.h>

#include <string>

#include "model/model.h"

using namespace pedseg;

namespace {

// q, three spikes, three means, three taus, polygenic effect, variance; all
// fixed and unlinked, every value inside its bounds.
ParamTable table() {
  ParamTable p;
  p.NPAR = NPAR_USED;
  const double val[13] = {0, 0.1, 0, 0, 0, 10, 8, 8, 1, 0.5, 0, 0.5, 4};
  const double low[13] = {0, 0, 0, 0, 0, -50, -50, -50, 0, 0, 0, -5, 0.01};
  const double high[13] = {0, 1, 1, 1, 1, 50, 50, 50, 1, 1, 1, 5, 100};
  for (int i = 1; i <= NPAR_USED; ++i) {
    p.PAR_LINK[i] = i;
    p.PAR_VAL[i] = val[i];
    p.PAR_STEP[i] = 0.1;
    p.PAR_LOW[i] = low[i];
    p.PAR_HIGH[i] = high[i];
  }
  return p;
}

struct Mapping : ::testing::Test {
  ParamTable par = table();
  ModelQuantities m;
  std::string log;
  OutputFile err = output_memory(log, "par.err");
  double status = 0.0;
  double initial() { SET_MODEL_INITIAL(par, m, err, status); return status; }
  double search() { SET_MODEL_SEARCH(par, m, status); return status; }
};

const ModelQuantities MENDEL;

}  // namespace

TEST_F(Mapping, FrequenciesAndCopies) {
  par.PAR_VAL[SLOT_Q] = 0.5;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(m.GEN_FREQ[1], 0.25);
  EXPECT_EQ(m.GEN_FREQ[2], 0.5);
  EXPECT_EQ(m.GEN_FREQ[3], 0.25);
  EXPECT_EQ(m.GEN_MEAN[1], 10.0);
  EXPECT_EQ(m.POLY_EFFECT, 0.5);
  EXPECT_EQ(m.RES_VAR, 4.0);
  par.PAR_VAL[SLOT_SPIKE1] = 0.2;
  par.PAR_VAL[SLOT_MEAN3] = -3.0;
  status = 7.0;
  EXPECT_EQ(search(), 1.0);
  EXPECT_EQ(m.SPIKE_PROB[1], 0.2);
  EXPECT_EQ(m.GEN_MEAN[3], -3.0);
  EXPECT_EQ(log, "");
  // Genotype 1 is the remainder from 1, not q squared (0.010000000000000002).
  par.PAR_VAL[SLOT_Q] = 0.1;
  EXPECT_EQ(search(), 1.0);
  EXPECT_EQ(m.GEN_FREQ[1], 0.009999999999999898);
  EXPECT_EQ(m.GEN_FREQ[2], 0.18000000000000002);
}

TEST_F(Mapping, QZeroAndQOne) {
  par.PAR_VAL[SLOT_Q] = 0.0;
  EXPECT_EQ(initial(), LH_SENTINEL);
  EXPECT_EQ(log, " ERROR: P1= 0.1000E+01\n");
  // The initial variant copies before testing the frequencies; the search one after.
  EXPECT_EQ(m.GEN_MEAN[1], 10.0);
  par.PAR_VAL[SLOT_MEAN1] = 1.0;
  EXPECT_EQ(search(), LH_SENTINEL);
  EXPECT_EQ(m.GEN_MEAN[1], 10.0);

  par.PAR_VAL[SLOT_Q] = 1.0;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(m.GEN_FREQ[1], 1.0);
  EXPECT_EQ(search(), LH_SENTINEL);
}

TEST_F(Mapping, QOutsideUnitIntervalIsRejected) {
  par.PAR_VAL[SLOT_Q] = -0.5;
  EXPECT_EQ(search(), LH_SENTINEL);
  EXPECT_EQ(initial(), LH_SENTINEL);
  EXPECT_EQ(log, " ERROR: P1= 0.2250E+01\n");
  par.PAR_VAL[SLOT_Q] = 1.5;  // genotype 1 at 2.25: no upper test would catch it
  EXPECT_EQ(initial(), LH_SENTINEL);
}

TEST_F(Mapping, BoundNudgeOnlyForFlagOne) {
  par.PAR_EST[SLOT_SPIKE1] = 1;  // on its lower bound 0
  par.PAR_EST[SLOT_MEAN2] = 1;
  par.PAR_VAL[SLOT_MEAN2] = 50.0;  // on its upper bound
  EXPECT_EQ(BOUND_NUDGE, 9.999999974752427E-07);
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE1], 9.999999974752427E-07);
  EXPECT_EQ(par.PAR_VAL[SLOT_MEAN2], 50.0 - BOUND_NUDGE);
  EXPECT_EQ(m.SPIKE_PROB[1], par.PAR_VAL[SLOT_SPIKE1]);
  EXPECT_EQ(search(), 1.0);

  par = table();
  par.PAR_EST[SLOT_SPIKE1] = 2;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE1], 0.0);
  EXPECT_EQ(search(), LH_SENTINEL);
  par.PAR_VAL[SLOT_SPIKE1] = 1.0;  // on the upper bound: also rejected by the search
  EXPECT_EQ(search(), LH_SENTINEL);
  par.PAR_VAL[SLOT_SPIKE1] = 0.5;
  EXPECT_EQ(search(), 1.0);
  EXPECT_EQ(log, "");
}

TEST_F(Mapping, BoundMessages) {
  par.PAR_EST[SLOT_MEAN2] = 1;
  par.PAR_VAL[SLOT_MEAN2] = 2.5;
  par.PAR_LOW[SLOT_MEAN2] = 0.1;
  par.PAR_HIGH[SLOT_MEAN2] = 2.0;
  par.PAR_EST[SLOT_RES_VAR] = 1;
  par.PAR_VAL[SLOT_RES_VAR] = -1.0;  // also outside, but after the first failure
  EXPECT_EQ(initial(), LH_SENTINEL);
  EXPECT_EQ(log,
            " ERROR OF INITIAL PARAMETER VALUE:\n        SIG= 0.2500E+01\n"
            "   GL= 0.1000E+00 GR= 0.2000E+01\n");

  log.clear();
  par = table();
  par.PAR_EST[SLOT_SPIKE1] = 1;
  par.PAR_VAL[SLOT_SPIKE1] = -0.001;
  par.PAR_EST[SLOT_SPIKE2] = 1;
  par.PAR_VAL[SLOT_SPIKE2] = 7.0;
  EXPECT_EQ(initial(), LH_SENTINEL);
  EXPECT_EQ(log,
            " ERROR OF INITIAL PARAMETER VALUE:\n        MU =-0.1000E-02\n"
            "   GL= 0.0000E+00 GR= 0.1000E+01\n");

  // Bounds closer than the nudge: the nudged value is reported as too high.
  log.clear();
  par = table();
  par.PAR_EST[SLOT_SPIKE1] = 1;
  par.PAR_HIGH[SLOT_SPIKE1] = 5e-7;
  EXPECT_EQ(initial(), LH_SENTINEL);
  EXPECT_NE(log.find("MU = 0.1000E-05\n"), std::string::npos) << log;
}

TEST_F(Mapping, LinkChainReadsValuesAsTheyStand) {
  par.PAR_LINK[SLOT_SPIKE1] = SLOT_SPIKE2;
  par.PAR_LINK[SLOT_SPIKE2] = SLOT_SPIKE3;
  par.PAR_VAL[SLOT_SPIKE1] = 0.1;
  par.PAR_VAL[SLOT_SPIKE2] = 0.2;
  par.PAR_VAL[SLOT_SPIKE3] = 0.3;
  par.PAR_EST[SLOT_SPIKE1] = par.PAR_EST[SLOT_SPIKE2] = par.PAR_EST[SLOT_SPIKE3] = 1;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE1], 0.2);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE2], 0.3);
  EXPECT_EQ(par.PAR_EST[SLOT_SPIKE1], 0);
  EXPECT_EQ(par.PAR_EST[SLOT_SPIKE2], 0);
  EXPECT_EQ(par.PAR_EST[SLOT_SPIKE3], 1);
  par.PAR_VAL[SLOT_SPIKE3] = 0.4;
  EXPECT_EQ(search(), 1.0);
  EXPECT_EQ(m.SPIKE_PROB[1], 0.3);  // spike3 of the previous call
  EXPECT_EQ(m.SPIKE_PROB[2], 0.4);

  par = table();
  par.PAR_LINK[SLOT_SPIKE2] = SLOT_SPIKE1;
  par.PAR_LINK[SLOT_SPIKE3] = SLOT_SPIKE2;
  par.PAR_EST[SLOT_SPIKE1] = 1;
  par.PAR_VAL[SLOT_SPIKE1] = 0.25;
  par.PAR_EST[SLOT_SPIKE3] = 1;
  par.PAR_VAL[SLOT_SPIKE3] = 9.0;  // outside its bounds, but linked: never tested
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE2], 0.25);
  EXPECT_EQ(par.PAR_VAL[SLOT_SPIKE3], 0.25);
  par.PAR_VAL[SLOT_SPIKE1] = 0.75;
  EXPECT_EQ(search(), 1.0);
  EXPECT_EQ(m.SPIKE_PROB[2], 0.75);
  EXPECT_EQ(m.SPIKE_PROB[3], 0.75);
  EXPECT_EQ(log, "");
}

TEST_F(Mapping, LinksBeyondTheUsedParameters) {
  par.PAR_LINK[SLOT_POLY_EFFECT] = 13;  // an unused slot holds 0.0
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(m.POLY_EFFECT, 0.0);
  for (int bad : {0, 21, -3}) {
    par.PAR_LINK[SLOT_POLY_EFFECT] = bad;
    EXPECT_EQ(initial(), LH_SENTINEL);
    EXPECT_EQ(search(), LH_SENTINEL);
  }
}

TEST_F(Mapping, TransmissionTable) {
  auto same_as_mendel = [&] {
    for (int c = 0; c < 27; ++c)
      if (m.TRANS_MAJOR[c] != MENDEL.TRANS_MAJOR[c]) return false;
    return true;
  };
  par.PAR_VAL[SLOT_TAU1] = par.PAR_VAL[SLOT_TAU2] = par.PAR_VAL[SLOT_TAU3] = 0.3;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_TRUE(same_as_mendel());
  par.PAR_EST[SLOT_TAU1] = -1;
  par.PAR_EST[SLOT_TAU3] = 1;
  EXPECT_EQ(search(), 1.0);
  EXPECT_TRUE(same_as_mendel());
  // A linked transmission parameter no longer counts as free.
  par = table();
  par.PAR_EST[SLOT_TAU2] = 1;
  par.PAR_LINK[SLOT_TAU2] = SLOT_TAU1;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_TRUE(same_as_mendel());

  par = table();
  par.PAR_EST[SLOT_TAU2] = 1;
  EXPECT_EQ(search(), 1.0);
  EXPECT_TRUE(same_as_mendel());

  par.PAR_EST[SLOT_TAU1] = par.PAR_EST[SLOT_TAU3] = 1;
  par.PAR_VAL[SLOT_TAU1] = par.PAR_VAL[SLOT_TAU2] = par.PAR_VAL[SLOT_TAU3] = 0.6;
  EXPECT_EQ(search(), 1.0);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      EXPECT_NEAR(trans_major(m, 1, i, j), 0.36, 1e-15);
      EXPECT_NEAR(trans_major(m, 2, i, j), 0.48, 1e-15);
      EXPECT_NEAR(trans_major(m, 3, i, j), 0.16, 1e-15);
    }
  // Distinct taus fix the layout: first parent 1, second parent 3.  One
  // free transmission parameter is enough for a rebuild.
  par.PAR_EST[SLOT_TAU1] = par.PAR_EST[SLOT_TAU2] = 0;
  par.PAR_VAL[SLOT_TAU1] = 0.75;
  par.PAR_VAL[SLOT_TAU2] = 0.5;
  par.PAR_VAL[SLOT_TAU3] = 0.25;
  EXPECT_EQ(initial(), 1.0);
  EXPECT_EQ(m.TAU[1], 0.75);
  EXPECT_EQ(m.TRANS_MAJOR[18], 0.1875);
  EXPECT_EQ(m.TRANS_MAJOR[19], 0.625);
  EXPECT_EQ(m.TRANS_MAJOR[20], 0.1875);
  EXPECT_EQ(trans_major(m, 1, 2, 1), 0.375);
  EXPECT_EQ(trans_major(m, 3, 2, 1), 0.125);
}
