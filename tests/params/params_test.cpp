// Reading par.inp into the parameter table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/example_par.h"
#include "params/param_vector.h"
#include "params/params.h"

namespace pedseg {
namespace {

const char* const EXAMPLE = EXAMPLE_PAR_INP;

// The example with line `n` (from 1) replaced.
std::string with_line(int n, const std::string& line) {
  return replace_line(EXAMPLE, n, line);
}

std::unique_ptr<ParamTable> read(const std::string& text) {
  auto par = std::make_unique<ParamTable>();
  par->NPAR = NPAR_USED;
  InputFile f = input_from_string("par.inp", text);
  READ_PARAMETERS(f, *par);
  return par;
}

std::string error_reading(const std::string& text) {
  try {
    read(text);
  } catch (const InputError& e) {
    return e.message;
  }
  return "";
}

// Every field of slots 1..20 equal.
void expect_same(const ParamTable& a, const ParamTable& b) {
  for (int i = 1; i <= PAR_SLOTS; ++i) {
    EXPECT_EQ(a.PAR_LINK[i], b.PAR_LINK[i]) << i;
    EXPECT_EQ(a.PAR_EST[i], b.PAR_EST[i]) << i;
    EXPECT_EQ(a.PAR_VAL[i], b.PAR_VAL[i]) << i;
    EXPECT_EQ(a.PAR_STEP[i], b.PAR_STEP[i]) << i;
    EXPECT_EQ(a.PAR_LOW[i], b.PAR_LOW[i]) << i;
    EXPECT_EQ(a.PAR_HIGH[i], b.PAR_HIGH[i]) << i;
  }
  EXPECT_EQ(std::string(a.TRAIT_FILE_NAME, 16), std::string(b.TRAIT_FILE_NAME, 16));
}

TEST(ReadParameters, ExampleFile) {
  auto par = read(EXAMPLE);
  EXPECT_EQ(std::string(par->TRAIT_FILE_NAME, 16), "trait.dat       ");
  EXPECT_EQ(trait_file_name(*par), "trait.dat");
  ParamTable expected;  // slots 13 to 20 stay zero
  const double rows[13][6] = {{},
                              {1, 1, 0.1, 0.02, 0.0, 1.0},   {2, 0, 0.0, 0.0, 0.0, 1.0},
                              {3, 0, 0.0, 0.0, 0.0, 1.0},    {4, 0, 0.0, 0.0, 0.0, 1.0},
                              {5, 1, 10.0, 0.5, -50.0, 50.0}, {6, 1, 8.0, 0.5, -50.0, 50.0},
                              {6, 0, 8.0, 0.5, -50.0, 50.0}, {8, 0, 1.0, 0.0, 0.0, 1.0},
                              {9, 0, 0.5, 0.0, 0.0, 1.0},    {10, 0, 0.0, 0.0, 0.0, 1.0},
                              {11, 1, 0.5, 0.1, -5.0, 5.0},  {12, 1, 4.0, 0.5, 0.01, 100.0}};
  for (int i = 1; i <= 12; ++i) {
    expected.PAR_LINK[i] = static_cast<int32_t>(rows[i][0]);
    expected.PAR_EST[i] = static_cast<int32_t>(rows[i][1]);
    expected.PAR_VAL[i] = rows[i][2];
    expected.PAR_STEP[i] = rows[i][3];
    expected.PAR_LOW[i] = rows[i][4];
    expected.PAR_HIGH[i] = rows[i][5];
  }
  std::memcpy(expected.TRAIT_FILE_NAME, "trait.dat       ", 16);
  expect_same(*par, expected);
}

TEST(ReadParameters, LayoutVariantsReadTheSame) {
  // Records spread over lines, commas, D exponents, comments after the sixth
  // item, a seventh item, lines after the last record.
  std::string text = with_line(6, "5 1\n10.0 0.5\n-50.0 50.0 99 this is a comment");
  text = text.substr(0, text.find("11 1")) + "11,1, 5D-1 ,1d-1,-5E0,  5.\n" +
         text.substr(text.find("12 1"));
  text = "'trait.dat'   name of the trait file" + text.substr(text.find('\n'));
  expect_same(*read(text + "anything after the last record\n1.5 x\n"), *read(EXAMPLE));
}

TEST(ReadParameters, NamesAndValuesAsRead) {
  auto rest = std::string(EXAMPLE).substr(std::string(EXAMPLE).find('\n'));
  EXPECT_EQ(trait_file_name(*read("abcdefghijklmnopqrst" + rest)), "abcdefghijklmnop");
  EXPECT_EQ(trait_file_name(*read("'  lead.dat  '" + rest)), "  lead.dat");
  // Nothing but the link is checked: flag 2, a value outside its bounds, low
  // above high and a link to slot 20 pass.
  auto par = read(with_line(3, "20 2 7.5 0.0 3.0 -1.0"));
  EXPECT_EQ(par->PAR_LINK[2], 20);
  EXPECT_EQ(par->PAR_EST[2], 2);
  EXPECT_EQ(par->PAR_HIGH[2], -1.0);
}

TEST(ReadParameters, LinkOutsideTheTableIsRefused) {
  for (const char* link : {"0", "21", "-1", "2147483647"}) {
    EXPECT_EQ(error_reading(with_line(4, std::string(link) + " 0 0.0 0.0 0.0 1.0")),
              std::string("par.inp, line 4 (parameter 3): the link index ") + link +
                  " is not a parameter number from 1 to 20");
  }
  // An empty link item leaves nothing usable either.
  EXPECT_EQ(error_reading(with_line(4, ", 0 0.0 0.0 0.0 1.0")),
            "par.inp, line 4 (parameter 3): the link index 0 is not a parameter number from 1 to 20");
}

TEST(ReadParameters, MalformedFiles) {
  EXPECT_EQ(error_reading(with_line(5, "4 0. 0.0 0.0 0.0 1.0")),
            "par.inp, line 5 (parameter 4): \"0.\" is not a valid integer");
  EXPECT_EQ(error_reading(with_line(13, "12 1 4.0 0.5 abc 100.0")),
            "par.inp, line 13 (parameter 12): \"abc\" is not a valid number");
  std::string cut = std::string(EXAMPLE).substr(0, std::string(EXAMPLE).find("12 1 4.0"));
  EXPECT_EQ(error_reading(cut), "par.inp: the file ends before parameter 12");
  EXPECT_EQ(error_reading(cut + "12 1 4.0 0.5"),
            "par.inp: the file ends inside parameter 12, after 4 items");
  EXPECT_EQ(error_reading(""), "par.inp: the file ends before trait file name");
}

TEST(ReadParameters, SlotDescriptions) {
  const char* const expected[] = {
      "frequency q",        "spike probability of genotype 1", "spike probability of genotype 2",
      "spike probability of genotype 3", "mean of genotype 1", "mean of genotype 2",
      "mean of genotype 3", "transmission probability tau1",  "transmission probability tau2",
      "transmission probability tau3",   "polygenic effect",  "residual variance",
      "parameter 13"};
  for (int i = 1; i <= NPAR_USED + 1; ++i) EXPECT_EQ(param_description(i), expected[i - 1]) << i;
}

// The slots as entries of a vector and back; an entry's status from its flag,
// its link and who made the link.
TEST(ParamVector, SlotsAndStatuses) {
  auto par = read(EXAMPLE);
  ParamVector v = slot_params(*par);
  ASSERT_EQ(v.size(), NPAR_USED);
  EXPECT_EQ(v.name[SLOT_RES_VAR], std::string("residual_variance"));
  ParamTable back;
  slots_to_table(v, back);
  std::memcpy(back.TRAIT_FILE_NAME, par->TRAIT_FILE_NAME, NAME_WIDTH);  // not a slot
  expect_same(back, *par);

  const std::pair<int32_t, ParamStatus> as_read[] = {{SLOT_Q, ParamStatus::Free},
                                                      {SLOT_SPIKE1, ParamStatus::Fixed},
                                                      {SLOT_MEAN3, ParamStatus::Linked}};
  for (auto [i, status] : as_read) EXPECT_EQ(param_status(v, i), status) << v.name[i];
  link_param(v, SLOT_MEAN3, SLOT_MEAN2);  // where par.inp links it: still linked
  link_param(v, SLOT_MEAN2, SLOT_MEAN1);
  EXPECT_EQ(param_status(v, SLOT_MEAN3), ParamStatus::Linked);
  EXPECT_EQ(param_status(v, SLOT_MEAN2), ParamStatus::Constrained);
  EXPECT_EQ(v.est[SLOT_MEAN2], 0);
  free_param(v, SLOT_MEAN2);
  EXPECT_EQ(param_status(v, SLOT_MEAN2), ParamStatus::Free);
  fix_param(v, SLOT_MEAN3, 2.5);
  EXPECT_EQ(param_status(v, SLOT_MEAN3), ParamStatus::Fixed);
  EXPECT_EQ(v.value[SLOT_MEAN3], 2.5);

  // The mapping's changes come back; entries beyond the slots keep theirs.
  const int32_t extra = add_param(v, "extra", 1.5, 0.1, 0.0, 2.0, 1);
  EXPECT_EQ(extra, NPAR_USED + 1);
  slots_to_table(v, back);
  back.PAR_VAL[SLOT_MEAN3] = 7.0;
  back.PAR_EST[SLOT_Q] = 0;
  slots_from_table(back, v);
  EXPECT_EQ(v.value[SLOT_MEAN3], 7.0);
  EXPECT_EQ(v.est[SLOT_Q], 0);
  EXPECT_EQ(v.value[extra], 1.5);
  EXPECT_EQ(param_status(v, extra), ParamStatus::Free);
}

}  // namespace
}  // namespace pedseg
