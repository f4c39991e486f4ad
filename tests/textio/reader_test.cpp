// Free-format reading.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "textio/textio.h"

namespace pedseg {
namespace {

// One record of `n` integers; untouched targets stay -7.
std::vector<int32_t> ints(InputFile& f, int n, const char* what = "record 1") {
  std::vector<int32_t> v(static_cast<size_t>(n), -7);
  RecordReader rec = begin_record(f, what);
  for (auto& x : v) read_int(rec, x);
  end_record(rec);
  return v;
}
using V = std::vector<int32_t>;

// The message of the InputError that `fn` throws, or "" when none.
template <typename Fn>
std::string error_of(Fn fn) {
  try {
    fn();
  } catch (const InputError& e) {
    return e.message;
  }
  return "";
}

std::string text16(InputFile& f) {
  char field[16];
  std::memset(field, '#', sizeof field);
  RecordReader rec = begin_record(f, "trait file name");
  read_text(rec, field, 16);
  end_record(rec);
  return std::string(field, 16);
}

TEST(Reader, RecordsSpanLinesAndSkipTheRestOfTheLastLine) {
  InputFile f = input_from_string("iway.dat", "1 2\n\n   3\t4 5 comment\n8,9 , 10,\n11");
  EXPECT_EQ(ints(f, 3), (V{1, 2, 3}));
  EXPECT_EQ(f.line, 4);  // 4 5 and the comment skipped
  EXPECT_EQ(ints(f, 4), (V{8, 9, 10, 11}));

  // A record with no items consumes one line, and needs one.
  InputFile g = input_from_string("x.dat", "1 2\nskipped 99\n3\n");
  EXPECT_EQ(ints(g, 1), V{1});
  EXPECT_EQ(ints(g, 0), V{});
  EXPECT_EQ(ints(g, 1), V{3});
  EXPECT_EQ(error_of([&] { ints(g, 0, "record 4"); }), "x.dat: the file ends before record 4");
  InputFile h = input_from_string("iway.dat", "3 1 2\n");
  EXPECT_EQ(error_of([&] { ints(h, 4, "record 4"); }),
            "iway.dat: the file ends inside record 4, after 3 items");
}

TEST(Reader, IntegerItems) {
  InputFile f = input_from_string("x", "+12 -0 007 2147483647 -2147483648\n");
  EXPECT_EQ(ints(f, 5), (V{12, 0, 7, 2147483647, -2147483647 - 1}));
  const std::string range = " is outside the range of integers (-2147483648 to 2147483647)";
  const std::pair<const char*, std::string> bad[] = {
      {"1.5", "\"1.5\" is not a valid integer"},   {"1.", "\"1.\" is not a valid integer"},
      {"1E3", "\"1E3\" is not a valid integer"},   {"-", "\"-\" is not a valid integer"},
      {"'1'", "\"'1'\" is not a valid integer"},   {"2147483648", "\"2147483648\"" + range},
      {"-2147483649", "\"-2147483649\"" + range},  {"99999999999999999999999", "\"99999999999999999999999\"" + range},
  };
  for (const auto& [text, problem] : bad) {
    InputFile g = input_from_string("par.inp", std::string("x\n1 ") + text + "\n");
    ints(g, 0);
    EXPECT_EQ(error_of([&] { ints(g, 2, "parameter 2"); }), "par.inp, line 2 (parameter 2): " + problem);
  }
}

TEST(Reader, RealItems) {
  InputFile f = input_from_string("x", "1 -2.5 .5 5. 1.5E-3 2D0 -3d+2 +0.25 1E-400\n");
  RecordReader rec = begin_record(f, "r");
  for (double e : {1.0, -2.5, 0.5, 5.0, 1.5E-3, 2.0, -300.0, 0.25, 0.0}) {
    double v = -1.0;
    EXPECT_TRUE(read_real(rec, v));
    EXPECT_EQ(v, e);
  }
  for (const char* bad : {"nan", "inf", "1.5.2", "E5", "1E", "0x10", ".", "1.5F", "1.5+3", "--1"}) {
    InputFile g = input_from_string("t.dat", bad);
    RecordReader r = begin_record(g, "record 1");
    double v = 0;
    EXPECT_EQ(error_of([&] { read_real(r, v); }),
              "t.dat, line 1 (record 1): \"" + std::string(bad) + "\" is not a valid number");
  }
  InputFile g = input_from_string("t.dat", "1E400 1E39");
  RecordReader r = begin_record(g, "record 6");
  double d = 0;
  float fl = 0;
  EXPECT_EQ(error_of([&] { read_real(r, d); }),
            "t.dat, line 1 (record 6): \"1E400\" is too large for a number");
  EXPECT_EQ(error_of([&] { read_real(r, fl); }),
            "t.dat, line 1 (record 6): \"1E39\" is too large for a single-precision number");
}

TEST(Reader, SinglePrecisionIsConvertedDirectly) {
  // Just above the midpoint between 1 and the next float: rounding to double
  // first lands exactly on the midpoint, which then rounds to even (1.0).
  const char* text = "1.000000059604644775390625000001";
  ASSERT_NE(static_cast<float>(std::strtod(text, nullptr)), std::strtof(text, nullptr));
  InputFile f = input_from_string("trait.dat", std::string(text) + " 1D-1\n");
  RecordReader rec = begin_record(f, "record 1");
  float v[2] = {};
  for (float& x : v) read_real(rec, x);
  EXPECT_EQ(v[0], 1.0f + 0x1p-23f);
  EXPECT_EQ(v[1], 0.1f);
}

TEST(Reader, TextItems) {
  const std::pair<const char*, const char*> cases[] = {
      {"trait.dat  comment\n", "trait.dat       "},
      {"trait.dat,x\n", "trait.dat       "},
      {"trait.dat/x\n", "trait.dat       "},
      {"'my trait.dat' c\n", "my trait.dat    "},
      {"'it''s.dat'\n", "it's.dat        "},
      {"\"say \"\"hi\"\"\"\n", "say \"hi\"        "},
      {"\"it's\"\n", "it's            "},
      {"a_very_long_trait_file.dat\n", "a_very_long_trai"},
      {"'  leading blanks and more'\n", "  leading blanks"},
  };
  for (const auto& [text, field] : cases) {
    InputFile f = input_from_string("par.inp", text);
    EXPECT_EQ(text16(f), field) << text;
  }
  InputFile f = input_from_string("par.inp", "'trait.dat\n1 1\n");
  EXPECT_EQ(error_of([&] { text16(f); }),
            "par.inp, line 1 (trait file name): a quoted text is not closed on its line");
}

TEST(Reader, RepeatCountsEmptyItemsAndSlash) {
  InputFile f = input_from_string("x", "3*7 2*, 1\n,5,,6 ,\n1 2 / 3 4\n5*2\n0*4\n");
  EXPECT_EQ(ints(f, 6), (V{7, 7, 7, -7, -7, 1}));
  EXPECT_EQ(ints(f, 4), (V{-7, 5, -7, 6}));
  EXPECT_EQ(ints(f, 4), (V{1, 2, -7, -7}));
  EXPECT_EQ(ints(f, 2), (V{2, 2}));  // the rest of a repeat goes with its line
  EXPECT_EQ(error_of([&] { ints(f, 1, "record 5"); }),
            "x, line 5 (record 5): the repeat count \"0\" is not a number from 1 to 2147483647");
  InputFile g = input_from_string("x", "2*1.5 9\n/ 1 2\n4\n");
  RecordReader rec = begin_record(g, "reals");
  double d[3] = {};
  for (double& x : d) EXPECT_TRUE(read_real(rec, x));
  end_record(rec);
  EXPECT_EQ(d[1], 1.5);
  EXPECT_EQ(d[2], 9.0);
  RecordReader slash = begin_record(g, "slash");
  int32_t k = -1;
  EXPECT_FALSE(read_int(slash, k));
  end_record(slash);
  EXPECT_EQ(k, -1);
  EXPECT_EQ(ints(g, 1), V{4});
}

TEST(Reader, LineEndsByteOrderMarkAndTabs) {
  InputFile f = input_from_string("x", "\xEF\xBB\xBF" "1\t2\r\n3\r\n\r\n4,\t5\r\n");
  EXPECT_EQ(ints(f, 2), (V{1, 2}));
  EXPECT_EQ(ints(f, 1), V{3});
  EXPECT_EQ(ints(f, 2), (V{4, 5}));
  EXPECT_EQ(f.line, 5);
  InputFile h = input_from_string("par.inp", "'trait.dat'\r\n");
  EXPECT_EQ(text16(h), "trait.dat       ");
  // The mark is nothing only at the very start.
  InputFile g = input_from_string("x", "1\n\xEF\xBB\xBF" "2\n");
  ints(g, 1);
  EXPECT_EQ(error_of([&] { ints(g, 1); }),
            "x, line 2 (record 1): \"\\xEF\\xBB\\xBF2\" is not a valid integer");
}

TEST(Reader, GarbageNulBytesAndLongLines) {
  std::string garbage;
  for (int k = 0; k < 300; ++k) garbage.push_back(static_cast<char>((k * 37 + 11) % 256));
  InputFile f = input_from_string("trait.dat", garbage);
  std::string msg = error_of([&] { ints(f, 50); });
  EXPECT_EQ(msg.rfind("trait.dat, line 1 (record 1): \"", 0), 0u) << msg;
  for (char c : msg) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "unprintable byte in message";

  InputFile g = input_from_string("x", std::string("12\0" "3\n", 5));
  EXPECT_EQ(error_of([&] { ints(g, 1); }), "x, line 1 (record 1): \"12\\x003\" is not a valid integer");

  InputFile h = input_from_string("x", "1 " + std::string(100000, 'c') + "\n2 " +
                                           std::string(100000, '9') + "\n0." +
                                           std::string(100000, '0') + "1E100002\n");
  EXPECT_EQ(ints(h, 1), V{1});
  msg = error_of([&] { ints(h, 2); });
  EXPECT_EQ(msg.rfind("x, line 2 (record 1): \"99999999", 0), 0u) << msg;
  EXPECT_LT(msg.size(), 200u);
  RecordReader rec = begin_record(h, "long number");
  double d = 0;
  read_real(rec, d);
  EXPECT_EQ(d, 10.0);
}

TEST(Reader, TwoMillionIntegers) {
  std::string text;
  for (int k = 0; k < 2000000; ++k) text += std::to_string(k % 25000 + 1) + (k % 10 == 9 ? "\n" : " ");
  InputFile f = input_from_string("iway.dat", std::move(text));
  std::vector<int32_t> v(2000000);
  RecordReader rec = begin_record(f, "record 5");
  for (auto& x : v) read_int(rec, x);
  end_record(rec);  // its speed: bench/readbench.cpp
  EXPECT_EQ(v[1999999], 1999999 % 25000 + 1);
  EXPECT_EQ(f.line, 200001);
}

TEST(Reader, OpenInput) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("pedseg_reader_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string missing = (dir / "iway.dat").string();
  EXPECT_EQ(error_of([&] { open_input(missing); }), missing + ": the file does not exist");
  EXPECT_FALSE(fs::exists(missing));  // never created
  EXPECT_EQ(error_of([&] { open_input(dir.string()); }),
            dir.string() + ": the file cannot be read (Is a directory)");
  const std::string p = (dir / "par.inp").string();
  std::ofstream(p, std::ios::binary) << "\xEF\xBB\xBF" "trait.dat\n1 2\n";
  InputFile f = open_input(p);
  EXPECT_EQ(text16(f), "trait.dat       ");
  EXPECT_EQ(ints(f, 2), (V{1, 2}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pedseg
