// Output files on disk: creation, emptying, and failures that must not pass
// silently.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/textio.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

class OutputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pedseg_output_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path dir_;
};

TEST_F(OutputFiles, CreatesAndEmptiesExistingFile) {
  const std::string p = path("sigma.dat");
  {
    std::ofstream old(p);
    old << "line 1 of an older run\nline 2 of an older run\nline 3\n";
  }
  OutputFile out;
  open_output(out, p);
  EXPECT_TRUE(is_open(out));
  EXPECT_EQ(contents(p), "");  // emptied at once, before anything is written
  write_formatted(out, "('  Number of individuals in spike=',I4)", {fmt_int(37)});
  close_output(out);
  EXPECT_FALSE(is_open(out));
  EXPECT_EQ(contents(p), "  Number of individuals in spike=  37\n");

  OutputFile fresh;
  open_output(fresh, path("max.dat"));
  close_output(fresh);
  EXPECT_TRUE(fs::exists(path("max.dat")));
  EXPECT_EQ(fs::file_size(path("max.dat")), 0u);
}

TEST_F(OutputFiles, OpenFailureNamesTheFile) {
  OutputFile out;
  const std::string p = path("no_such_folder/par.err");
  try {
    open_output(out, p);
    FAIL() << "no error";
  } catch (const WriteError& e) {
    EXPECT_NE(e.message.find(p), std::string::npos) << e.message;
  }
  EXPECT_FALSE(is_open(out));
}

TEST_F(OutputFiles, FullDeviceIsReportedOnWriteOrClose) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // A small write sits in the buffer: the failure shows when it is flushed.
  {
    OutputFile out;
    open_output(out, "/dev/full");
    write_text(out, "a short line\n");
    try {
      close_output(out);
      FAIL() << "close reported success";
    } catch (const WriteError& e) {
      EXPECT_NE(e.message.find("/dev/full"), std::string::npos) << e.message;
    }
    EXPECT_FALSE(is_open(out));
  }
  // A write larger than any buffer fails at once.
  {
    OutputFile out;
    open_output(out, "/dev/full");
    EXPECT_THROW(write_text(out, std::string(1 << 20, 'x')), WriteError);
    EXPECT_THROW(close_output(out), WriteError);
  }
  // A stream the program does not own is flushed, and checked, on close.
  {
    FILE* fp = std::fopen("/dev/full", "w");
    ASSERT_NE(fp, nullptr);
    OutputFile out = output_stream(fp, "console");
    write_text(out, "x\n");
    EXPECT_THROW(close_output(out), WriteError);
    std::fclose(fp);
  }
}

TEST_F(OutputFiles, StreamIsNotClosedByCloseOutput) {
  const std::string p = path("console.txt");
  FILE* fp = std::fopen(p.c_str(), "w");
  ASSERT_NE(fp, nullptr);
  OutputFile out = output_stream(fp, "console");
  write_free(out, {fmt_int(812)});
  close_output(out);
  EXPECT_FALSE(is_open(out));
  // Still usable by its owner.
  EXPECT_GT(std::fputs("after\n", fp), -1);
  EXPECT_EQ(std::fclose(fp), 0);
  EXPECT_EQ(contents(p), "         812\nafter\n");
}

}  // namespace
}  // namespace pedseg
