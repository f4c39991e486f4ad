// Reading iway.dat and the trait file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "pedigree/pedigree_fixtures.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;
using testing::EXAMPLE_IWAY;
using testing::example_tables;

std::unique_ptr<PedigreeTables> read_iway(const std::string& text) {
  auto ped = std::make_unique<PedigreeTables>();
  InputFile in = input_from_string("iway.dat", text);
  read_structure(in, *ped);
  return ped;
}

template <typename T, size_t N>
bool same(const T (&a)[N], const T (&b)[N]) {
  return std::equal(a, a + N, b);
}

// Every table and count.
void expect_same_tables(const PedigreeTables& a, const PedigreeTables& b) {
  EXPECT_EQ(a.NFAM, b.NFAM);
  EXPECT_EQ(a.NFAM_READ, b.NFAM_READ);
  EXPECT_EQ(a.NSTART, b.NSTART);
  EXPECT_EQ(a.NMEMBER, b.NMEMBER);
  EXPECT_EQ(a.NIND, b.NIND);
  EXPECT_TRUE(same(a.PED_START, b.PED_START));
  EXPECT_TRUE(same(a.PED_NUC, b.PED_NUC));
  EXPECT_TRUE(same(a.NUC_START, b.NUC_START));
  EXPECT_TRUE(same(a.NUC_MEMBERS, b.NUC_MEMBERS));
  EXPECT_TRUE(same(a.NUC_PIVOT, b.NUC_PIVOT));
  EXPECT_TRUE(same(a.IND_CODE, b.IND_CODE));
  EXPECT_TRUE(same(a.TRAIT, b.TRAIT));
  EXPECT_TRUE(same(a.PED_WEIGHT, b.PED_WEIGHT));
}

// A record of a count and `n` values, the last of which is `last`.
std::string counted_record(int64_t count, int64_t n, int last) {
  std::string s = std::to_string(count);
  s.reserve(static_cast<size_t>(n) * 2 + 16);
  for (int64_t i = 1; i < n; ++i) s += " 0";
  if (n > 0) s += " " + std::to_string(last);
  return s + "\n";
}

// `n` values without a count, the last of which is `last`.
std::string plain_record(int64_t n, int last) {
  std::string s;
  s.reserve(static_cast<size_t>(n) * 2 + 16);
  for (int64_t i = 1; i < n; ++i) s += "0 ";
  if (n > 0) s += std::to_string(last);
  return s + "\n";
}

TEST(ReadStructure, ExampleReadsIntoTheTablesItDescribes) {
  auto ped = read_iway(EXAMPLE_IWAY);
  expect_same_tables(*ped, *example_tables());
  EXPECT_EQ(ped->PED_START[3], 11);
  EXPECT_EQ(ped->NUC_MEMBERS[10], 4);
  EXPECT_EQ(ped->NUC_PIVOT[2], 3);
  // Individual codes are stored from 1.
  auto codes = read_iway(
      "2 2 0 5 11\n0 0 1 3\n5 0 0 4 7 11\n11 1 2 3 4 3 5 6 1 2 3 4\n0 3 0\n"
      "11 101 102 103 104 105 106 107 108 109 110 111\n");
  EXPECT_EQ(codes->IND_CODE[0], 0);
  EXPECT_EQ(codes->IND_CODE[1], 101);
  EXPECT_EQ(codes->IND_CODE[11], 111);
  EXPECT_EQ(codes->IND_CODE[12], 0);
}

TEST(ReadStructure, RecordsSpreadOverLinesWithExtraItemsReadTheSame) {
  auto spread = read_iway(
      "2\n2 0\n5 11 99 98 comment\n"
      "0,0 , 1\n3 7\n"
      "5 0\n0\n4 7\n11\n"
      "11 1 2 3 4\n3 5 6\n1 2 3 4 12 13\n"
      "0\n3\n0 0 0\n"
      "11 0 0 0 0 0\n0 0 0 0 0\n0 5 5 5\n");
  expect_same_tables(*spread, *example_tables());
}

TEST(ReadStructure, FamilyLimit) {
  // 604 families: 606 values in records 1 and 2.
  std::string text = counted_record(604, 606, 7) + plain_record(606, 9) + "2 0 0\n0 \n\n0\n";
  auto ped = read_iway(text);
  EXPECT_EQ(ped->NFAM_READ, 604);
  EXPECT_EQ(ped->PED_START[605], 7);
  EXPECT_EQ(ped->PED_NUC[605], 9);

  // 605 stops as soon as the count is read: nothing of the record is stored.
  auto stopped = std::make_unique<PedigreeTables>();
  InputFile in = input_from_string("iway.dat", "605 3 " + plain_record(606, 7));
  try {
    read_structure(in, *stopped);
    FAIL() << "no stop";
  } catch (const SizeStop& s) {
    EXPECT_EQ(s.message, "N_FAM exceed. Correct and recompile");
  }
  EXPECT_EQ(stopped->PED_START[0], 0);
}

TEST(ReadStructure, NuclearFamilyLimits) {
  const int64_t max = N_WAY;
  std::string text = "-2\n\n" + counted_record(max, max, 5) + counted_record(max, max, 6) +
                     plain_record(max - 2, 8) + "0\n";
  auto ped = read_iway(text);
  EXPECT_EQ(ped->NSTART, N_WAY);
  EXPECT_EQ(ped->NMEMBER, N_WAY);
  EXPECT_EQ(ped->NUC_START[N_WAY - 1], 5);
  EXPECT_EQ(ped->NUC_MEMBERS[N_WAY - 1], 6);
  EXPECT_EQ(ped->NUC_PIVOT[N_WAY - 2], 8);

  auto expect_way_stop = [](const std::string& file, const char* what) {
    SCOPED_TRACE(what);
    auto p = std::make_unique<PedigreeTables>();
    InputFile in = input_from_string("iway.dat", file);
    try {
      read_structure(in, *p);
      ADD_FAILURE() << "no stop";
    } catch (const SizeStop& s) {
      EXPECT_EQ(s.message, "N_WAY exceed. Correct and recompile");
    }
    EXPECT_EQ(p->NUC_START[0], 0);
    EXPECT_EQ(p->NUC_MEMBERS[0], 0);
  };
  expect_way_stop("-2\n\n2000001 4 4 4\n", "NSTART");
  expect_way_stop("-2\n\n2 0 0\n2000001 4 4 4\n", "NMEMBER");
}

TEST(ReadStructure, IndividualLimit) {
  auto ped = read_iway("-2\n\n2 0 0\n0\n\n" + counted_record(N_SIZE, N_SIZE, 3));
  EXPECT_EQ(ped->NIND, N_SIZE);
  EXPECT_EQ(ped->IND_CODE[N_SIZE], 3);

  auto p = std::make_unique<PedigreeTables>();
  InputFile in = input_from_string("iway.dat", "-2\n\n2 0 0\n0\n\n25001 4 4\n");
  try {
    read_structure(in, *p);
    FAIL() << "no stop";
  } catch (const SizeStop& s) {
    EXPECT_EQ(s.message, "N_SIZE exceed. Correct and recompile");
  }
  EXPECT_EQ(p->IND_CODE[1], 0);
}

TEST(ReadStructure, EmptyRecordsStillTakeTheirLine) {
  // No nuclear families: record 5 is an empty line, which must be there.
  auto ped = read_iway("1 1 0 2\n0 0 0\n2 0 0\n0\n\n2 1 2\n");
  EXPECT_EQ(ped->NSTART, 2);
  EXPECT_EQ(ped->NIND, 2);
  EXPECT_EQ(ped->IND_CODE[2], 2);
  // Without it, record 5 takes record 6's line and record 6 finds the end.
  EXPECT_THROW(read_iway("1 1 0 2\n0 0 0\n2 0 0\n0\n2 1 2\n"), InputError);
}

TEST(ReadStructure, CountsOfZeroOrLessStoreNothing) {
  // NFAM = -2 and -5: no values in records 1 and 2.
  for (const char* nfam : {"-2", "-5"}) {
    SCOPED_TRACE(nfam);
    auto ped = read_iway(std::string(nfam) + "\n\n2 0 0\n0\n\n0\n");
    EXPECT_EQ(ped->NFAM_READ, std::stoi(nfam));
    EXPECT_EQ(ped->PED_START[0], 0);
    EXPECT_EQ(ped->PED_NUC[0], 0);
  }
  // NFAM = -1: one value each.
  auto one = read_iway("-1 0\n4\n2 0 0\n0\n\n0\n");
  EXPECT_EQ(one->PED_NUC[0], 4);
  EXPECT_EQ(one->PED_NUC[1], 0);
  // Negative NSTART, NMEMBER and NIND, also at the bottom of the 32-bit range.
  auto neg = read_iway("-2\n\n-2147483648\n-7\n\n-1\n");
  EXPECT_EQ(neg->NSTART, -2147483647 - 1);
  EXPECT_EQ(neg->NMEMBER, -7);
  EXPECT_EQ(neg->NIND, -1);
  EXPECT_EQ(neg->NUC_PIVOT[1], 0);
}

TEST(ReadStructure, ShortOrInvalidFileIsAnInputErrorNamingTheRecord) {
  try {
    read_iway("2 2 0 5 11\n0 0 1 3\n5 0 0 4 7 11\n11 1 2 3\n");
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(e.message.find("iway.dat"), std::string::npos) << e.message;
    EXPECT_NE(e.message.find("record 4"), std::string::npos) << e.message;
  }
  try {
    read_iway("2 2 0 5.5 11\n");
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(e.message.find("record 1"), std::string::npos) << e.message;
  }
}

TEST(ReadTraits, ValuesAreSinglePrecisionAndMaySpreadOverLines) {
  auto ped = std::make_unique<PedigreeTables>();
  ped->NIND = 4;
  InputFile in = input_from_string("t.dat", "1.1 -999\n\n1000, 2.5E-1 7 8\nnext\n");
  read_traits(in, *ped);
  EXPECT_EQ(ped->TRAIT[1], 1.1f);
  EXPECT_EQ(ped->TRAIT[2], -999.0f);
  EXPECT_EQ(ped->TRAIT[3], 1000.0f);
  EXPECT_EQ(ped->TRAIT[4], 0.25f);
  EXPECT_EQ(ped->TRAIT[5], 0.0f);
  EXPECT_EQ(in.line, 4);  // the rest of the last line is skipped
}

TEST(ReadTraits, NoIndividualsStillReadsOneLine) {
  auto ped = std::make_unique<PedigreeTables>();
  InputFile blank = input_from_string("t.dat", "\n");
  read_traits(blank, *ped);
  EXPECT_EQ(blank.pos, 1u);
  InputFile empty = input_from_string("t.dat", "");
  EXPECT_THROW(read_traits(empty, *ped), InputError);
  ped->NIND = -3;
  InputFile neg = input_from_string("t.dat", "5\n");
  read_traits(neg, *ped);
  EXPECT_EQ(ped->TRAIT[1], 0.0f);
}

// ---------------------------------------------------------------------------
// The whole reader, in a folder of its own.

class ReadPedigreeInFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    char tmpl[] = "/tmp/pedseg-pedigree-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  int files() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
  }
  static void field(char (&f)[16], const std::string& name) {
    std::fill(f, f + 16, ' ');
    std::copy(name.begin(), name.end(), f);
  }

  fs::path old_, dir_;
};

TEST_F(ReadPedigreeInFolder, ReadsBothFilesWritesTheCountAndDerivesWeights) {
  write("iway.dat", EXAMPLE_IWAY);
  write("  t.dat", "1 2 3 4 5\n-999 -999 -999 -999 -999 7\n");  // leading blanks kept
  char name[16];
  field(name, "  t.dat");
  auto ped = std::make_unique<PedigreeTables>();
  std::string out;
  OutputFile console = output_memory(out, "console");
  READ_PEDIGREE(name, *ped, console);
  EXPECT_EQ(out, "          11\n");
  EXPECT_EQ(ped->TRAIT[11], 7.0f);
  EXPECT_EQ(ped->NFAM, 2);
  EXPECT_EQ(ped->PED_WEIGHT[1], 0.2);
  EXPECT_EQ(ped->PED_WEIGHT[2], 1.0);
}

TEST_F(ReadPedigreeInFolder, MissingStructureFileIsAnInputErrorAndIsNotCreated) {
  write("t.dat", "1\n");
  char name[16];
  field(name, "t.dat");
  auto ped = std::make_unique<PedigreeTables>();
  std::string out;
  OutputFile console = output_memory(out, "console");
  try {
    READ_PEDIGREE(name, *ped, console);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(e.message.find("iway.dat"), std::string::npos) << e.message;
  }
  EXPECT_EQ(out, "");
  EXPECT_FALSE(fs::exists("iway.dat"));
  EXPECT_EQ(files(), 1);
}

TEST_F(ReadPedigreeInFolder, MissingTraitFileIsAnInputErrorAfterTheCountLine) {
  write("iway.dat", EXAMPLE_IWAY);
  char name[16];
  field(name, "traits.dat");
  auto ped = std::make_unique<PedigreeTables>();
  std::string out;
  OutputFile console = output_memory(out, "console");
  try {
    READ_PEDIGREE(name, *ped, console);
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_NE(e.message.find("traits.dat"), std::string::npos) << e.message;
  }
  EXPECT_EQ(out, "          11\n");
  EXPECT_FALSE(fs::exists("traits.dat"));
  EXPECT_EQ(files(), 1);
}

TEST_F(ReadPedigreeInFolder, TooManyIndividualsStopsBeforeTheCountLine) {
  write("iway.dat", "-2\n\n2 0 0\n0\n\n25001\n");
  write("t.dat", "1\n");
  char name[16];
  field(name, "t.dat");
  auto ped = std::make_unique<PedigreeTables>();
  std::string out;
  OutputFile console = output_memory(out, "console");
  EXPECT_THROW(READ_PEDIGREE(name, *ped, console), SizeStop);
  EXPECT_EQ(out, "");
}

TEST(NameFromField, DropsTrailingBlanksOnly) {
  char f[16];
  std::fill(f, f + 16, ' ');
  EXPECT_EQ(name_from_field(f), "");
  std::copy_n(" a b", 4, f);
  EXPECT_EQ(name_from_field(f), " a b");
  std::copy_n("abcdefghijklmnop", 16, f);
  EXPECT_EQ(name_from_field(f), "abcdefghijklmnop");
}

}  // namespace
}  // namespace pedseg
