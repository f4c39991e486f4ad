// Output files: creation, emptying, and failures that must not pass silently.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "textio/textio.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Output, FileIsCreatedOrEmptied) {
  const fs::path dir = fs::temp_directory_path() / ("pedseg_output_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string p = (dir / "sigma.dat").string();
  std::ofstream(p) << "older line 1\nolder line 2\nolder line 3\n";
  OutputFile out;
  open_output(out, p);
  EXPECT_EQ(contents(p), "");  // emptied at once
  write_formatted(out, "('  Number of individuals in spike=',I4)", {fmt_int(37)});
  close_output(out);
  EXPECT_FALSE(is_open(out));
  close_output(out);  // a second close does nothing
  EXPECT_EQ(contents(p), "  Number of individuals in spike=  37\n");
  EXPECT_THROW(write_text(out, "late"), WriteError);

  OutputFile bad;
  const std::string missing_dir = (dir / "no_such_folder" / "par.err").string();
  try {
    open_output(bad, missing_dir);
    ADD_FAILURE() << "no error";
  } catch (const WriteError& e) {
    EXPECT_NE(e.message.find(missing_dir), std::string::npos) << e.message;
  }
  fs::remove_all(dir);
}

// A file left open is closed when its OutputFile ends, once, by whichever
// object holds it after moves; what was written is kept.
TEST(Output, AnOpenFileIsClosedByItsLastHolder) {
  const fs::path dir = fs::temp_directory_path() / ("pedseg_close_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string p = (dir / "max.dat").string();
  int fd_moved = -1, fd_reopened = -1;
  {
    OutputFile first;
    open_output(first, p);
    fd_moved = fileno(first.fp);
    write_text(first, "kept\n");
    OutputFile second(std::move(first));
    EXPECT_FALSE(is_open(first));
    OutputFile third;
    third = std::move(second);
    write_text(third, "also kept\n");
    open_output(first, (dir / "other.dat").string());  // the moved-from object is usable
    fd_reopened = fileno(first.fp);
    EXPECT_NE(fcntl(fd_moved, F_GETFD), -1);
  }
  EXPECT_EQ(fcntl(fd_moved, F_GETFD), -1);
  EXPECT_EQ(fcntl(fd_reopened, F_GETFD), -1);
  EXPECT_EQ(contents(p), "kept\nalso kept\n");
  fs::remove_all(dir);
}

TEST(Output, FullDeviceIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  OutputFile small;  // buffered: the failure shows on close
  open_output(small, "/dev/full");
  write_text(small, "a short line\n");
  try {
    close_output(small);
    ADD_FAILURE() << "close reported success";
  } catch (const WriteError& e) {
    EXPECT_NE(e.message.find("/dev/full"), std::string::npos) << e.message;
  }
  EXPECT_FALSE(is_open(small));

  OutputFile large;  // larger than any buffer: fails at once
  open_output(large, "/dev/full");
  EXPECT_THROW(write_text(large, std::string(1 << 20, 'x')), WriteError);
  EXPECT_THROW(close_output(large), WriteError);

  FILE* fp = std::fopen("/dev/full", "w");  // a stream not owned is flushed and checked
  ASSERT_NE(fp, nullptr);
  OutputFile console = output_stream(fp, "console");
  write_free(console, {fmt_int(1)});
  EXPECT_THROW(close_output(console), WriteError);
  std::fclose(fp);
}

}  // namespace
}  // namespace pedseg
