// Reading par.inp into the parameter table.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver/params.h"

namespace pedseg {
namespace {

const char* const EXAMPLE =
    "trait.dat\n"
    "1 1 0.1 0.02 0.0 1.0\n"
    "2 0 0.0 0.0 0.0 1.0\n"
    "3 0 0.0 0.0 0.0 1.0\n"
    "4 0 0.0 0.0 0.0 1.0\n"
    "5 1 10.0 0.5 -50.0 50.0\n"
    "6 1 8.0 0.5 -50.0 50.0\n"
    "6 0 8.0 0.5 -50.0 50.0\n"
    "8 0 1.0 0.0 0.0 1.0\n"
    "9 0 0.5 0.0 0.0 1.0\n"
    "10 0 0.0 0.0 0.0 1.0\n"
    "11 1 0.5 0.1 -5.0 5.0\n"
    "12 1 4.0 0.5 0.01 100.0\n";

// The example with line `n` (from 1) replaced.
std::string with_line(int n, const std::string& line) {
  std::string out;
  std::string text = EXAMPLE;
  int current = 1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    out += current == n ? line : text.substr(start, end - start);
    out += '\n';
    start = end + 1;
    ++current;
  }
  return out;
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

TEST(ReadParameters, ExampleFile) {
  auto par = read(EXAMPLE);
  EXPECT_EQ(std::string(par->TRAIT_FILE_NAME, 16), "trait.dat       ");
  EXPECT_EQ(trait_file_name(*par), "trait.dat");
  const int32_t link[13] = {0, 1, 2, 3, 4, 5, 6, 6, 8, 9, 10, 11, 12};
  const int32_t est[13] = {0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1};
  const double val[13] = {0, 0.1, 0.0, 0.0, 0.0, 10.0, 8.0, 8.0, 1.0, 0.5, 0.0, 0.5, 4.0};
  const double step[13] = {0, 0.02, 0, 0, 0, 0.5, 0.5, 0.5, 0, 0, 0, 0.1, 0.5};
  const double low[13] = {0, 0, 0, 0, 0, -50, -50, -50, 0, 0, 0, -5, 0.01};
  const double high[13] = {0, 1, 1, 1, 1, 50, 50, 50, 1, 1, 1, 5, 100};
  for (int i = 1; i <= 12; ++i) {
    EXPECT_EQ(par->PAR_LINK[i], link[i]) << i;
    EXPECT_EQ(par->PAR_EST[i], est[i]) << i;
    EXPECT_EQ(par->PAR_VAL[i], val[i]) << i;
    EXPECT_EQ(par->PAR_STEP[i], step[i]) << i;
    EXPECT_EQ(par->PAR_LOW[i], low[i]) << i;
    EXPECT_EQ(par->PAR_HIGH[i], high[i]) << i;
  }
  for (int i = 13; i <= 20; ++i) {
    EXPECT_EQ(par->PAR_LINK[i], 0);
    EXPECT_EQ(par->PAR_EST[i], 0);
    EXPECT_EQ(par->PAR_VAL[i], 0.0);
    EXPECT_EQ(par->PAR_STEP[i], 0.0);
    EXPECT_EQ(par->PAR_LOW[i], 0.0);
    EXPECT_EQ(par->PAR_HIGH[i], 0.0);
  }
}

TEST(ReadParameters, LayoutVariantsReadTheSame) {
  auto plain = read(EXAMPLE);
  // Records spread over lines, commas, D exponents, comments after the sixth
  // item, a seventh item, lines after the last record.
  std::string text = with_line(6, "5 1\n10.0 0.5\n-50.0 50.0 99 this is a comment");
  text = text.substr(0, text.find("11 1")) + "11,1, 5D-1 ,1d-1,-5E0,  5.\n" +
         text.substr(text.find("12 1"));
  text = "'trait.dat'   name of the trait file" + text.substr(text.find('\n'));
  text += "anything at all after the last record\n1.5 x\n";
  auto varied = read(text);
  EXPECT_EQ(trait_file_name(*varied), "trait.dat");
  for (int i = 1; i <= 20; ++i) {
    EXPECT_EQ(varied->PAR_LINK[i], plain->PAR_LINK[i]) << i;
    EXPECT_EQ(varied->PAR_EST[i], plain->PAR_EST[i]) << i;
    EXPECT_EQ(varied->PAR_VAL[i], plain->PAR_VAL[i]) << i;
    EXPECT_EQ(varied->PAR_STEP[i], plain->PAR_STEP[i]) << i;
    EXPECT_EQ(varied->PAR_LOW[i], plain->PAR_LOW[i]) << i;
    EXPECT_EQ(varied->PAR_HIGH[i], plain->PAR_HIGH[i]) << i;
  }
}

TEST(ReadParameters, TraitFileNames) {
  auto rest = std::string(EXAMPLE).substr(std::string(EXAMPLE).find('\n'));
  EXPECT_EQ(trait_file_name(*read("abcdefghijklmnopqrst" + rest)), "abcdefghijklmnop");
  EXPECT_EQ(trait_file_name(*read("'my trait.dat'" + rest)), "my trait.dat");
  EXPECT_EQ(trait_file_name(*read("'  lead.dat  '" + rest)), "  lead.dat");
  auto par = read("\"x\"" + rest);
  EXPECT_EQ(std::string(par->TRAIT_FILE_NAME, 16), "x               ");
  EXPECT_EQ(trait_file_name(*read("''" + rest)), "");
}

TEST(ReadParameters, ValuesAreNotCheckedHere) {
  // Flag 2, value outside its bounds, low above high, link to slot 20.
  auto par = read(with_line(3, "20 2 7.5 0.0 3.0 -1.0"));
  EXPECT_EQ(par->PAR_LINK[2], 20);
  EXPECT_EQ(par->PAR_EST[2], 2);
  EXPECT_EQ(par->PAR_VAL[2], 7.5);
  EXPECT_EQ(par->PAR_LOW[2], 3.0);
  EXPECT_EQ(par->PAR_HIGH[2], -1.0);
}

TEST(ReadParameters, LinkOutsideTheTableIsRefused) {
  for (const char* link : {"0", "21", "-1", "2147483647"}) {
    EXPECT_EQ(error_reading(with_line(4, std::string(link) + " 0 0.0 0.0 0.0 1.0")), std::string("par.inp, line 4 (parameter 3): the link index ") +
                                       link + " is not a parameter number from 1 to 20");
  }
  // An empty link item leaves nothing usable either.
  EXPECT_EQ(error_reading(with_line(4, ", 0 0.0 0.0 0.0 1.0")),
            "par.inp, line 4 (parameter 3): the link index 0 is not a parameter number from 1 to 20");
}

TEST(ReadParameters, MalformedFiles) {
  EXPECT_EQ(error_reading(with_line(5, "4 0. 0.0 0.0 0.0 1.0")), "par.inp, line 5 (parameter 4): \"0.\" is not a valid integer");

  EXPECT_EQ(error_reading(with_line(13, "12 1 4.0 0.5 abc 100.0")), "par.inp, line 13 (parameter 12): \"abc\" is not a valid number");

  std::string cut = std::string(EXAMPLE).substr(0, std::string(EXAMPLE).find("12 1 4.0"));
  EXPECT_EQ(error_reading(cut), "par.inp: the file ends before parameter 12");
  EXPECT_EQ(error_reading(cut + "12 1 4.0 0.5"),
            "par.inp: the file ends inside parameter 12, after 4 items");
  EXPECT_EQ(error_reading(""), "par.inp: the file ends before trait file name");
}

}  // namespace
}  // namespace pedseg
