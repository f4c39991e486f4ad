// Reading iway.dat and the trait file, and the family weights.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "pedigree/pedigree_fixtures.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;
using testing::EXAMPLE_IWAY;

std::unique_ptr<PedigreeTables> read_iway(const std::string& text) {
  auto ped = std::make_unique<PedigreeTables>();
  InputFile in = input_from_string("iway.dat", text);
  read_structure(in, *ped);
  return ped;
}

// The message of the stop or input error that reading `text` ends in.
std::string failure_of(const std::string& text) {
  try {
    read_iway(text);
  } catch (const SizeStop& s) {
    return "STOP " + s.message;
  } catch (const InputError& e) {
    return e.message;
  }
  return "";
}

template <typename T, size_t N>
bool same(const T (&a)[N], const T (&b)[N]) {
  return std::equal(a, a + N, b);
}

bool same_structure(const PedigreeTables& a, const PedigreeTables& b) {
  return a.NFAM_READ == b.NFAM_READ && a.NSTART == b.NSTART && a.NMEMBER == b.NMEMBER &&
         a.NIND == b.NIND && same(a.PED_START, b.PED_START) && same(a.PED_NUC, b.PED_NUC) &&
         same(a.NUC_START, b.NUC_START) && same(a.NUC_MEMBERS, b.NUC_MEMBERS) &&
         same(a.NUC_PIVOT, b.NUC_PIVOT) && same(a.IND_CODE, b.IND_CODE);
}

// `count` (if any), then `n` values: zeros and a last one of `last`.
std::string record(const std::string& count, int64_t n, int last) {
  std::string s = count;
  for (int64_t i = 1; i < n; ++i) s += " 0";
  if (n > 0) s.append(" ").append(std::to_string(last));
  return s.append("\n");
}

TEST(ReadStructure, ExampleInAnyLayoutReadsIntoItsTables) {
  auto ped = read_iway(EXAMPLE_IWAY);
  EXPECT_TRUE(same_structure(*ped, *testing::example_tables()));
  EXPECT_EQ(ped->NFAM, 2);
  // Spread over lines, with commas, and extra items after each record.
  EXPECT_TRUE(same_structure(*ped, *read_iway("2\n2 0\n5 11 99 comment\n0,0 , 1\n3 7\n5 0\n0\n"
                                              "4 7\n11\n11 1 2 3 4\n3 5 6\n1 2 3 4 12 13\n0\n"
                                              "3\n0 0 0\n11 0 0 0 0 0\n0 0 0 0 0\n0 5 5 5\n")));
  const std::string ex = EXAMPLE_IWAY;
  auto codes = read_iway(ex.substr(0, ex.rfind("11 0")) + "11 1 2 3 4 5 6 7 8 9 10 111\n");
  EXPECT_EQ(codes->IND_CODE[11], 111);
  EXPECT_EQ(codes->IND_CODE[12], 0);
}

TEST(ReadStructure, LimitsAreAcceptedUpToTheirValueAndStopBeyondBeforeStoring) {
  auto fam = read_iway(record("604", 606, 7) + record("", 606, 9) + "2 0 0\n0\n\n0\n");
  EXPECT_EQ(fam->PED_START[605] + fam->PED_NUC[605], 16);
  auto way = read_iway("-2\n\n" + record("2000000", N_WAY, 5) + record("2000000", N_WAY, 6) +
                       record("", N_WAY - 2, 8) + record("25000", N_SIZE, 3));
  EXPECT_EQ(way->NUC_START[N_WAY - 1], 5);
  EXPECT_EQ(way->NUC_MEMBERS[N_WAY - 1], 6);
  EXPECT_EQ(way->NUC_PIVOT[N_WAY - 2], 8);
  EXPECT_EQ(way->IND_CODE[N_SIZE], 3);

  const std::pair<const char*, const char*> stops[] = {
      {"605 4 4 4\n", "STOP N_FAM exceed. Correct and recompile"},
      {"-2\n\n2000001 4 4\n", "STOP N_WAY exceed. Correct and recompile"},
      {"-2\n\n2 4 4\n2000001 4 4\n", "STOP N_WAY exceed. Correct and recompile"},
      {"-2\n\n2 4 4\n0\n\n25001 4 4\n", "STOP N_SIZE exceed. Correct and recompile"},
  };
  for (const auto& [file, message] : stops) {
    auto ped = std::make_unique<PedigreeTables>();
    InputFile in = input_from_string("iway.dat", file);
    EXPECT_THROW(read_structure(in, *ped), SizeStop);
    EXPECT_EQ(ped->PED_START[0] + ped->NUC_MEMBERS[0] + ped->IND_CODE[1], 0) << file;
    EXPECT_EQ(failure_of(file), message);
  }
}

TEST(ReadStructure, CountsOfZeroOrLessStoreNothingButRecordsTakeTheirLine) {
  for (const char* nfam : {"-2", "-5"}) {
    auto ped = read_iway(std::string(nfam) + "\n\n2 0 0\n0\n\n0\n");
    EXPECT_EQ(ped->NFAM_READ, std::stoi(nfam));
    EXPECT_EQ(ped->PED_START[0] + ped->PED_NUC[0], 0);
  }
  auto one = read_iway("-1 3\n4\n2 0 0\n0\n\n0\n");  // NFAM = -1: one value each
  EXPECT_EQ(one->PED_START[0] + one->PED_NUC[0] + one->PED_NUC[1], 7);
  auto neg = read_iway("-2\n\n-2147483648\n-7\n\n-1\n");
  EXPECT_EQ(neg->NSTART, INT_MIN);
  EXPECT_EQ(neg->NIND, -1);
  // NSTART = 2: record 5 is an empty line, and it must be there.
  EXPECT_EQ(read_iway("1 1 0 2\n0 0 0\n2 0 0\n0\n\n2 1 2\n")->IND_CODE[2], 2);
  EXPECT_NE(failure_of("1 1 0 2\n0 0 0\n2 0 0\n0\n2 1 2\n").find("iway.dat"), std::string::npos);
  // A short file or a bad item names the file and the record.
  EXPECT_NE(failure_of("2 2 0 5 11\n0 0 1 3\n5 0 0 4 7 11\n11 1 2 3\n").find("record 4"),
            std::string::npos);
  EXPECT_NE(failure_of("2 2 0 5.5 11\n").find("record 1"), std::string::npos);
}

TEST(ReadTraits, SinglePrecisionValuesOverLinesAndAnEmptyRecord) {
  auto ped = std::make_unique<PedigreeTables>();
  ped->NIND = 4;
  InputFile in = input_from_string("t.dat", "1.1 -999\n\n1000, 2.5E-1 7\nnext\n");
  read_traits(in, *ped);
  EXPECT_TRUE(ped->TRAIT[1] == 1.1f && ped->TRAIT[3] == 1000.0f && ped->TRAIT[4] == 0.25f);
  EXPECT_EQ(ped->TRAIT[5], 0.0f);
  EXPECT_EQ(in.line, 4);
  ped->NIND = 0;  // one empty record, so the file needs a line
  InputFile blank = input_from_string("t.dat", "\n"), empty = input_from_string("t.dat", "");
  read_traits(blank, *ped);
  EXPECT_EQ(blank.pos, 1u);
  EXPECT_THROW(read_traits(empty, *ped), InputError);
}

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
  return ped;
}

TEST(DeriveWeights, OneOverTheCountOfValuesNotBelowMinus998) {
  auto ped = families(4, {{10.5f, -999.0f, 1000.0f, 12.0f},
                          {-999.0f, -999.0f},
                          {-999.0f, -998.0f},
                          {-998.0001f, 3.0f},
                          {5.0f}});
  derive_weights(*ped);
  EXPECT_EQ(ped->NFAM, 4);
  EXPECT_EQ(ped->PED_WEIGHT[1], 0.3333333333333333);
  EXPECT_EQ(ped->PED_WEIGHT[2], 0.0);
  EXPECT_EQ(ped->PED_WEIGHT[3], 1.0);  // exactly -998 counts
  EXPECT_EQ(ped->PED_WEIGHT[4], 1.0);  // just below it does not
  EXPECT_EQ(ped->PED_WEIGHT[5], 0.0);  // beyond PED_START(0)
}

// The whole reader, in a folder of its own: writes the files given (null:
// none), reads with the trait file name `traits`, and keeps what the
// console received and the message the reading ended with.
class ReadPedigree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pedseg-pedigree-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  void run(const char* iway, const std::string& traits, const char* trait_text) {
    if (iway) std::ofstream("iway.dat") << iway;
    if (trait_text) std::ofstream(traits) << trait_text;
    char field[16];
    std::fill(field, field + 16, ' ');
    std::copy(traits.begin(), traits.end(), field);
    console_.clear();
    failure_.clear();
    OutputFile console = output_memory(console_, "console");
    try {
      READ_PEDIGREE(field, *ped_, console);
    } catch (const InputError& e) {
      failure_ = e.message;
    } catch (const SizeStop& s) {
      failure_ = "STOP " + s.message;
    }
  }
  int files() const {
    return static_cast<int>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}));
  }

  fs::path old_ = fs::current_path(), dir_;
  std::unique_ptr<PedigreeTables> ped_ = std::make_unique<PedigreeTables>();
  std::string console_, failure_;
};

TEST_F(ReadPedigree, ReadsBothFilesWritesTheCountAndDerivesWeights) {
  run(EXAMPLE_IWAY, "  t.dat", "1 2 3 4 5\n-999 -999 -999 -999 -999 7\n");  // blanks kept
  EXPECT_EQ(failure_, "");
  EXPECT_EQ(console_, "          11\n");
  EXPECT_EQ(ped_->TRAIT[11], 7.0f);
  EXPECT_EQ(ped_->PED_WEIGHT[1], 0.2);
  EXPECT_EQ(ped_->PED_WEIGHT[2], 1.0);
}

TEST_F(ReadPedigree, MissingFilesAreInputErrorsNamingThemAndAreNotCreated) {
  run(nullptr, "t.dat", "1\n");
  EXPECT_NE(failure_.find("iway.dat"), std::string::npos) << failure_;
  EXPECT_EQ(console_, "");
  fs::remove("t.dat");
  run(EXAMPLE_IWAY, "traits.dat", nullptr);
  EXPECT_NE(failure_.find("traits.dat"), std::string::npos) << failure_;
  EXPECT_EQ(console_, "          11\n");
  EXPECT_EQ(files(), 1);  // iway.dat alone
  run("-2\n\n2 0 0\n0\n\n25001\n", "t.dat", "1\n");
  EXPECT_EQ(failure_, "STOP N_SIZE exceed. Correct and recompile");
  EXPECT_EQ(console_, "");  // no count line
}

}  // namespace
}  // namespace pedseg
