// Free-format reading.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "textio/textio.h"

namespace pedseg {
namespace {

// Reads one record of `n` integers.
std::vector<int32_t> ints(InputFile& f, int n, const char* what = "record 1") {
  std::vector<int32_t> v(static_cast<size_t>(n), -7);
  RecordReader rec = begin_record(f, what);
  for (auto& x : v) read_int(rec, x);
  end_record(rec);
  return v;
}

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

TEST(Reader, RecordsSpanLinesAndSkipTheRestOfTheLastLine) {
  InputFile f = input_from_string("iway.dat",
                                  "1 2\n"
                                  "\n"
                                  "   3\t4 5 6 7 comment here\n"
                                  "8,9 , 10,\n"
                                  "11");
  EXPECT_EQ(ints(f, 3), (std::vector<int32_t>{1, 2, 3}));
  // The record ended on line 3: 4 5 6 7 and the comment are skipped.
  EXPECT_EQ(f.line, 4);
  EXPECT_EQ(ints(f, 4), (std::vector<int32_t>{8, 9, 10, 11}));
}

TEST(Reader, SameValuesOnOneLineOrSpreadOverThree) {
  const char* one = "5 1 10.0 0.5 -50.0 50.0\nnext\n";
  const char* three = "5 1\n10.0 0.5\n-50.0 50.0 7 extra\nnext\n";
  for (const char* text : {one, three}) {
    InputFile f = input_from_string("par.inp", text);
    RecordReader rec = begin_record(f, "parameter 5");
    int32_t link = 0, est = 0;
    double v[4] = {};
    EXPECT_TRUE(read_int(rec, link));
    EXPECT_TRUE(read_int(rec, est));
    for (double& x : v) EXPECT_TRUE(read_real(rec, x));
    end_record(rec);
    EXPECT_EQ(link, 5);
    EXPECT_EQ(est, 1);
    EXPECT_EQ(v[0], 10.0);
    EXPECT_EQ(v[1], 0.5);
    EXPECT_EQ(v[2], -50.0);
    EXPECT_EQ(v[3], 50.0);
    char name[4];
    RecordReader rec2 = begin_record(f, "next");
    read_text(rec2, name, 4);
    end_record(rec2);
    EXPECT_EQ(std::string(name, 4), "next");
  }
}

TEST(Reader, EmptyRecordConsumesOneLine) {
  InputFile f = input_from_string("x.dat", "1 2\nskipped line 99\n3\n");
  EXPECT_EQ(ints(f, 1), std::vector<int32_t>{1});
  RecordReader empty = begin_record(f, "record 2");
  end_record(empty);
  EXPECT_EQ(ints(f, 1), std::vector<int32_t>{3});
  // At the end of the file there is no line left to consume.
  RecordReader last = begin_record(f, "record 4");
  std::string msg = error_of([&] { end_record(last); });
  EXPECT_EQ(msg, "x.dat: the file ends before record 4");
}

TEST(Reader, EndOfFileInsideOrBeforeRecord) {
  InputFile f = input_from_string("iway.dat", "3 1 2\n");
  std::string msg = error_of([&] { ints(f, 4, "record 4"); });
  EXPECT_EQ(msg, "iway.dat: the file ends inside record 4, after 3 items");
  InputFile g = input_from_string("iway.dat", "1\n\n   \n");
  ints(g, 1);
  msg = error_of([&] { ints(g, 1, "record 2"); });
  EXPECT_EQ(msg, "iway.dat: the file ends before record 2");
}

TEST(Reader, IntegerItems) {
  InputFile f = input_from_string("x", "+12 -0 007 2147483647 -2147483648\n");
  EXPECT_EQ(ints(f, 5), (std::vector<int32_t>{12, 0, 7, 2147483647, -2147483647 - 1}));

  struct Bad {
    const char* text;
    const char* problem;
  };
  const Bad bad[] = {
      {"1 1.5", "\"1.5\" is not a valid integer"},
      {"1 1.", "\"1.\" is not a valid integer"},
      {"1 1E3", "\"1E3\" is not a valid integer"},
      {"1 -", "\"-\" is not a valid integer"},
      {"1 12abc", "\"12abc\" is not a valid integer"},
      {"1 'a'", "\"'a'\" is not a valid integer"},
      {"1 2147483648", "\"2147483648\" is outside the range of integers (-2147483648 to 2147483647)"},
      {"1 -2147483649", "\"-2147483649\" is outside the range of integers (-2147483648 to 2147483647)"},
      {"1 99999999999999999999999", "\"99999999999999999999999\" is outside the range of integers"
                                    " (-2147483648 to 2147483647)"},
  };
  for (const Bad& b : bad) {
    InputFile g = input_from_string("par.inp", std::string("x\n\n") + b.text + "\n");
    RecordReader skip = begin_record(g, "trait file name");
    end_record(skip);
    end_record(skip);  // one more line: records start at line 3
    std::string msg = error_of([&] { ints(g, 2, "parameter 2"); });
    EXPECT_EQ(msg, std::string("par.inp, line 3 (parameter 2): ") + b.problem) << b.text;
  }
}

TEST(Reader, RealItems) {
  InputFile f = input_from_string("x", "1 -2.5 .5 5. 1.5E-3 2D0 -3d+2 1e2 +0.25 1E-400\n");
  RecordReader rec = begin_record(f, "r");
  double expected[] = {1.0, -2.5, 0.5, 5.0, 1.5E-3, 2.0, -300.0, 100.0, 0.25, 0.0};
  for (double e : expected) {
    double v = -1.0;
    EXPECT_TRUE(read_real(rec, v));
    EXPECT_EQ(v, e);
  }
  end_record(rec);

  for (const char* bad : {"nan", "inf", "-Infinity", "1.5.2", "E5", "1E", "1E+", "0x10", "1,5e",
                          ".", "+", "1.5F", "1.5+3", "--1"}) {
    InputFile g = input_from_string("t.dat", std::string(bad) + "\n");
    RecordReader r = begin_record(g, "record 1");
    double v = 0;
    std::string msg = error_of([&] {
      read_real(r, v);
      read_real(r, v);
    });
    EXPECT_NE(msg.find("is not a valid number"), std::string::npos) << bad << ": " << msg;
  }
  for (const char* big : {"1E400", "-1D309"}) {
    InputFile g = input_from_string("t.dat", std::string(big));
    RecordReader r = begin_record(g, "record 1");
    double v = 0;
    EXPECT_EQ(error_of([&] { read_real(r, v); }),
              "t.dat, line 1 (record 1): \"" + std::string(big) + "\" is too large for a number");
  }
  InputFile g = input_from_string("t.dat", "1E39");
  RecordReader r = begin_record(g, "record 6");
  float fv = 0;
  EXPECT_EQ(error_of([&] { read_real(r, fv); }),
            "t.dat, line 1 (record 6): \"1E39\" is too large for a single-precision number");
}

TEST(Reader, SinglePrecisionIsConvertedDirectly) {
  // Just above the midpoint between 1 and the next float: rounding to double
  // first lands exactly on the midpoint, which then rounds to even (1.0).
  const char* text = "1.000000059604644775390625000001";
  const float via_double = static_cast<float>(std::strtod(text, nullptr));
  const float direct = std::strtof(text, nullptr);
  ASSERT_NE(via_double, direct);  // the case really tells the two apart
  InputFile f = input_from_string("trait.dat", std::string(text) + " 1D-1 -998\n");
  RecordReader rec = begin_record(f, "record 1");
  float v[3] = {};
  for (float& x : v) read_real(rec, x);
  end_record(rec);
  EXPECT_EQ(v[0], 1.0f + 0x1p-23f);
  EXPECT_EQ(v[1], 0.1f);
  EXPECT_EQ(v[2], -998.0f);
}

TEST(Reader, TextItems) {
  struct Case {
    const char* text;
    const char* field;  // 16 characters
  };
  const Case cases[] = {
      {"trait.dat\n", "trait.dat       "},
      {"trait.dat  comment\n", "trait.dat       "},
      {"trait.dat,x\n", "trait.dat       "},
      {"trait.dat/x\n", "trait.dat       "},
      {"'my trait.dat' c\n", "my trait.dat    "},
      {"\"my trait.dat\"\n", "my trait.dat    "},
      {"'it''s.dat'\n", "it's.dat        "},
      {"\"say \"\"hi\"\"\"\n", "say \"hi\"        "},
      {"\"it's\"\n", "it's            "},
      {"a_very_long_trait_file.dat\n", "a_very_long_trai"},
      {"'  leading blanks and more'\n", "  leading blanks"},
      {"  trait.dat\n", "trait.dat       "},
      {"2*data.dat\n", "data.dat        "},
  };
  for (const Case& c : cases) {
    InputFile f = input_from_string("par.inp", c.text);
    char field[16];
    std::memset(field, '#', sizeof field);
    RecordReader rec = begin_record(f, "trait file name");
    EXPECT_TRUE(read_text(rec, field, 16));
    end_record(rec);
    EXPECT_EQ(std::string(field, 16), c.field) << c.text;
  }
  InputFile f = input_from_string("par.inp", "'trait.dat\n1 1\n");
  char field[16];
  RecordReader rec = begin_record(f, "trait file name");
  EXPECT_EQ(error_of([&] { read_text(rec, field, 16); }),
            "par.inp, line 1 (trait file name): a quoted text is not closed on its line");
}

TEST(Reader, RepeatCountsEmptyItemsAndSlash) {
  InputFile f = input_from_string("x",
                                  "3*7 2*, 1\n"      // 7 7 7 _ _ 1
                                  ",5,,6 ,\n"        // _ 5 _ 6
                                  "1 2 / 3 4\n"      // 1 2 then ended
                                  "2*1.5 9\n"        // reals
                                  "0*4\n");
  std::vector<int32_t> a = ints(f, 6);
  EXPECT_EQ(a, (std::vector<int32_t>{7, 7, 7, -7, -7, 1}));
  std::vector<int32_t> b = ints(f, 4);
  EXPECT_EQ(b, (std::vector<int32_t>{-7, 5, -7, 6}));

  RecordReader rec = begin_record(f, "record 3");
  int32_t v[4] = {-1, -1, -1, -1};
  EXPECT_TRUE(read_int(rec, v[0]));
  EXPECT_TRUE(read_int(rec, v[1]));
  EXPECT_FALSE(read_int(rec, v[2]));
  EXPECT_FALSE(read_int(rec, v[3]));
  end_record(rec);
  EXPECT_EQ(v[2], -1);
  EXPECT_EQ(v[3], -1);

  RecordReader rec4 = begin_record(f, "record 4");
  double d[3] = {};
  for (double& x : d) EXPECT_TRUE(read_real(rec4, x));
  end_record(rec4);
  EXPECT_EQ(d[0], 1.5);
  EXPECT_EQ(d[1], 1.5);
  EXPECT_EQ(d[2], 9.0);

  EXPECT_EQ(error_of([&] { ints(f, 1, "record 5"); }),
            "x, line 5 (record 5): the repeat count \"0\" is not a number from 1 to 2147483647");

  // A repeat that covers more than the record: the rest is dropped with
  // the line.
  InputFile g = input_from_string("x", "5*2\n3\n");
  EXPECT_EQ(ints(g, 2), (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(ints(g, 1), std::vector<int32_t>{3});
  // A slash at the start of a record: nothing read, no line beyond it used.
  InputFile h = input_from_string("x", "/ 1 2\n4\n");
  EXPECT_EQ(ints(h, 2), (std::vector<int32_t>{-7, -7}));
  EXPECT_EQ(ints(h, 1), std::vector<int32_t>{4});
}

TEST(Reader, LineEndsByteOrderMarkAndTabs) {
  InputFile f = input_from_string("x", "\xEF\xBB\xBF" "1\t2\r\n3\r\n\r\n4,\t5\r\n");
  EXPECT_EQ(ints(f, 2), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(ints(f, 1), std::vector<int32_t>{3});
  EXPECT_EQ(ints(f, 2), (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(f.line, 5);
  // Only at the very start is the mark ignored.
  InputFile g = input_from_string("x", "1\n\xEF\xBB\xBF" "2\n");
  ints(g, 1);
  EXPECT_NE(error_of([&] { ints(g, 1, "record 2"); }).find("is not a valid integer"),
            std::string::npos);
  // CRLF after a quoted name and a number with nothing after it.
  InputFile h = input_from_string("par.inp", "'trait.dat'\r\n1 0 2.5\r\n");
  char name[16];
  RecordReader r1 = begin_record(h, "trait file name");
  read_text(r1, name, 16);
  end_record(r1);
  EXPECT_EQ(std::string(name, 16), "trait.dat       ");
  RecordReader r2 = begin_record(h, "parameter 1");
  int32_t a = 0, b = 0;
  double c = 0;
  read_int(r2, a);
  read_int(r2, b);
  read_real(r2, c);
  end_record(r2);
  EXPECT_EQ(c, 2.5);
}

TEST(Reader, ErrorLineNumbers) {
  InputFile f = input_from_string("iway.dat", "1 2\n3\n\n4 x5\n");
  EXPECT_EQ(error_of([&] { ints(f, 6, "record 2"); }),
            "iway.dat, line 4 (record 2): \"x5\" is not a valid integer");
}

TEST(Reader, GarbageIsReportedSafely) {
  std::string garbage;
  for (int k = 0; k < 300; ++k) garbage.push_back(static_cast<char>((k * 37 + 11) % 256));
  garbage[5] = '\0';
  InputFile f = input_from_string("trait.dat", garbage);
  float v[50];
  std::string msg = error_of([&] {
    RecordReader rec = begin_record(f, "record 1");
    for (float& x : v) read_real(rec, x);
  });
  EXPECT_NE(msg.find("trait.dat, line "), std::string::npos) << msg;
  for (char c : msg) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "unprintable byte in message";

  // A NUL byte inside a number.
  InputFile g = input_from_string("x", std::string("12\0" "3\n", 5));
  EXPECT_EQ(error_of([&] { ints(g, 1); }), "x, line 1 (record 1): \"12\\x003\" is not a valid integer");

  // Long lines: a long comment is skipped, a long item is cut in the message.
  InputFile h = input_from_string("x", "1 " + std::string(100000, 'c') + "\n2 " +
                                           std::string(100000, '9') + "\n");
  EXPECT_EQ(ints(h, 1), std::vector<int32_t>{1});
  msg = error_of([&] { ints(h, 2, "record 2"); });
  EXPECT_EQ(msg.rfind("x, line 2 (record 2): \"99999999", 0), 0u) << msg;
  EXPECT_LT(msg.size(), 200u);
  InputFile k = input_from_string("x", "0." + std::string(100000, '0') + "1E100002\n");
  double d = 0;
  RecordReader rk = begin_record(k, "long");
  read_real(rk, d);
  EXPECT_EQ(d, 10.0);
}

TEST(Reader, TwoMillionIntegers) {
  std::string text;
  text.reserve(16 * 1000000);
  for (int k = 0; k < 2000000; ++k) {
    text += std::to_string(k % 25000 + 1);
    text.push_back(k % 10 == 9 ? '\n' : ' ');
  }
  InputFile f = input_from_string("iway.dat", std::move(text));
  std::vector<int32_t> v(2000000);
  auto t0 = std::chrono::steady_clock::now();
  RecordReader rec = begin_record(f, "record 5");
  for (auto& x : v) read_int(rec, x);
  end_record(rec);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1999999], 1999999 % 25000 + 1);
  EXPECT_EQ(f.line, 200001);
  EXPECT_LT(seconds, 2.0);
}

TEST(Reader, OpenInput) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("pedseg_reader_test_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string missing = (dir / "iway.dat").string();
  EXPECT_EQ(error_of([&] { open_input(missing); }), missing + ": the file does not exist");
  EXPECT_FALSE(fs::exists(missing));  // never created
  EXPECT_NE(error_of([&] { open_input(dir.string()); }).find(dir.string() + ": the file cannot be"),
            std::string::npos);

  const std::string p = (dir / "par.inp").string();
  {
    std::ofstream out(p, std::ios::binary);
    out << "\xEF\xBB\xBF" "trait.dat\n1 2\n";
  }
  InputFile f = open_input(p);
  EXPECT_EQ(f.name, p);
  char name[16];
  RecordReader rec = begin_record(f, "trait file name");
  read_text(rec, name, 16);
  end_record(rec);
  EXPECT_EQ(std::string(name, 16), "trait.dat       ");
  EXPECT_EQ(ints(f, 2), (std::vector<int32_t>{1, 2}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pedseg
