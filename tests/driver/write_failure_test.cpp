// Output that cannot be written ends the run as a write error naming the
// file, never as a normal end.  A full device is reached through a symbolic
// link to /dev/full in place of the file, which fails even for root, and an
// unopenable file through a folder of the same name.  Too little memory for
// the tables ends the run as an internal error.  The whole program runs as
// the built pedseg in a child process.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "driver/example_par.h"
#include "driver/run.h"

namespace pedseg {
namespace {

namespace fs = std::filesystem;

// Two families of 5 and 6 individuals, five free parameters.
const std::string PAR_INP = EXAMPLE_PAR_INP;

// The same with a starting mean above its bound: par.err gets a message and
// the run stops after the first evaluation.
const std::string PAR_INP_OUT_OF_BOUNDS =
    replace_line(replace_line(PAR_INP, 7, "6 1 60.0 0.5 -50.0 50.0"), 8, "7 1 8.0 0.5 -50.0 50.0");

const char* const IWAY_DAT =
    "2 2 0 5 11\n"
    "0 0 1 3\n"
    "5 0 0 4 7 11\n"
    "11 1 2 3 4 3 5 6 1 2 3 4\n"
    "0 3 0\n"
    "11 0 0 0 0 0 0 0 0 0 0 0\n";

const char* const TRAIT_DAT =
    "9.5 -999 8.1 7.7 10.2\n"
    "11.0 9.3 12.4 8.8 -999 6.5\n";

void write_file(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << p;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int open_descriptors() {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

// A scratch folder holding the inputs, entered for the test and removed
// afterwards.
class WriteFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = fs::current_path();
    char pattern[] = "/tmp/pedseg-write-failure-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
    write_file("par.inp", PAR_INP);
    write_file("iway.dat", IWAY_DAT);
    write_file("trait.dat", TRAIT_DAT);
  }
  void TearDown() override {
    fs::current_path(old_dir_);
    fs::remove_all(dir_);
  }

  static void full_device_as(const char* name) {
    std::remove(name);
    fs::create_symlink("/dev/full", name);
  }

  // run_analysis with the console in memory; the message of the write error
  // it throws, or "" when it ends normally.
  std::string write_error_of_run() {
    auto t = std::make_unique<RunTables>();
    std::string console_text, diagnostics_text;
    OutputFile console = output_memory(console_text, "standard output");
    OutputFile diagnostics = output_memory(diagnostics_text, "standard error");
    try {
      run_analysis(*t, console, diagnostics);
    } catch (const WriteError& e) {
      return e.message;
    }
    return "";
  }

  // The built program (PEDSEG_PROGRAM) in a new process whose standard
  // output and standard error go to the named files; returns its exit
  // status.  With `memory_kb` the process runs under `ulimit -v` of that
  // many kB.
  static int program_status(const char* stdout_path, const char* stderr_path,
                            const char* memory_kb = nullptr) {
    std::fflush(nullptr);
    const std::string limited = std::string("ulimit -v ") + (memory_kb ? memory_kb : "") +
                                " && exec \"$0\"";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(stderr_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(99);
      if (memory_kb != nullptr) {
        execl("/bin/sh", "sh", "-c", limited.c_str(), PEDSEG_PROGRAM, nullptr);
      } else {
        execl(PEDSEG_PROGRAM, "pedseg", nullptr);
      }
      _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path old_dir_;
  fs::path dir_;
};

TEST_F(WriteFailure, EveryResultFileOnAFullDeviceIsAWriteErrorNamingIt) {
  // Sanity: the inputs give a complete run.
  ASSERT_EQ(write_error_of_run(), "");
  const std::string sigma = read_file("sigma.dat");
  ASSERT_EQ(std::count(sigma.begin(), sigma.end(), '\n'), 18);

  for (const char* name : {"sigma.dat", "max.dat"}) {
    SCOPED_TRACE(name);
    full_device_as(name);
    const std::string message = write_error_of_run();
    EXPECT_EQ(message.rfind(std::string(name) + ": ", 0), 0u) << message;
    EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
    fs::remove(name);
  }
}

TEST_F(WriteFailure, ParErrOnAFullDeviceIsAWriteErrorOnTheEarlyStop) {
  write_file("par.inp", PAR_INP_OUT_OF_BOUNDS);
  write_file("max.dat", "older progress\n");
  write_file("sigma.dat", "older results\n");
  ASSERT_EQ(write_error_of_run(), "");
  ASSERT_NE(read_file("par.err").find("ERROR OF INITIAL PARAMETER VALUE"), std::string::npos);

  full_device_as("par.err");
  const std::string message = write_error_of_run();
  EXPECT_EQ(message.rfind("par.err: ", 0), 0u) << message;
  // The stop came before any result file was touched.
  EXPECT_EQ(read_file("max.dat"), "older progress\n");
  EXPECT_EQ(read_file("sigma.dat"), "older results\n");
}

TEST_F(WriteFailure, AFolderInPlaceOfAResultFileCannotBeOpened) {
  for (const char* name : {"par.err", "max.dat", "sigma.dat"}) {
    SCOPED_TRACE(name);
    fs::create_directory(name);
    const std::string message = write_error_of_run();
    EXPECT_EQ(message.rfind(std::string(name) + ": the file cannot be created or opened", 0), 0u)
        << message;
    fs::remove(name);
  }
}

TEST_F(WriteFailure, TheProgramExitsWithStatus4AndSaysWhichFile) {
  full_device_as("sigma.dat");
  EXPECT_EQ(program_status("console.txt", "stderr.txt"), EXIT_WRITE_ERROR);
  EXPECT_EQ(read_file("stderr.txt").rfind("pedseg: write error: sigma.dat: ", 0), 0u)
      << read_file("stderr.txt");
  // The console got as far as the search.
  EXPECT_NE(read_file("console.txt").find("MAX="), std::string::npos);
  EXPECT_EQ(read_file("console.txt").find("END OF PROGRAM"), std::string::npos);
}

TEST_F(WriteFailure, AConsoleOnAFullDeviceIsStatus4OnEveryPathThatEndsNormally) {
  // Full path, then the early stop.
  EXPECT_EQ(program_status("/dev/full", "stderr.txt"), EXIT_WRITE_ERROR);
  EXPECT_EQ(read_file("stderr.txt").rfind("pedseg: write error: ", 0), 0u)
      << read_file("stderr.txt");
  EXPECT_NE(read_file("stderr.txt").find("standard output"), std::string::npos)
      << read_file("stderr.txt");

  write_file("par.inp", PAR_INP_OUT_OF_BOUNDS);
  EXPECT_EQ(program_status("/dev/full", "stderr.txt"), EXIT_WRITE_ERROR);
  EXPECT_NE(read_file("stderr.txt").find("standard output"), std::string::npos)
      << read_file("stderr.txt");
}

TEST_F(WriteFailure, AnInputErrorStaysAnInputErrorWhenTheConsoleIsFull) {
  write_file("iway.dat", "2 2 0 5\n");
  EXPECT_EQ(program_status("/dev/full", "stderr.txt"), EXIT_INPUT_ERROR);
  EXPECT_EQ(read_file("stderr.txt").rfind("pedseg: input error: iway.dat", 0), 0u)
      << read_file("stderr.txt");
}

// The tables (about 30 MB) do not fit in 16 MB of address space: a one-line
// diagnostic and status 5 instead of an abort.  AddressSanitizer reserves far
// more address space than any such limit, so the test cannot run under it.
TEST_F(WriteFailure, TooLittleMemoryForTheTablesIsAnInternalError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "ulimit -v cannot work under AddressSanitizer";
#endif
  EXPECT_EQ(program_status("console.txt", "stderr.txt", "16000"), EXIT_INTERNAL_ERROR);
  EXPECT_EQ(read_file("stderr.txt"), "pedseg: out of memory\n");
  EXPECT_EQ(read_file("console.txt"), "");
}

TEST_F(WriteFailure, NoFileStaysOpenWhenARunEndsByAnError) {
  auto t = std::make_unique<RunTables>();
  std::string console_text, diagnostics_text;
  OutputFile console = output_memory(console_text, "standard output");
  OutputFile diagnostics = output_memory(diagnostics_text, "standard error");
  const int before = open_descriptors();

  // Input error after par.err was opened.
  write_file("iway.dat", "not a pedigree\n");
  EXPECT_THROW(run_analysis(*t, console, diagnostics), InputError);
  EXPECT_EQ(open_descriptors(), before);

  // Write error in the middle of the search, with par.err and max.dat open.
  write_file("iway.dat", IWAY_DAT);
  full_device_as("max.dat");
  t = std::make_unique<RunTables>();
  EXPECT_THROW(run_analysis(*t, console, diagnostics), WriteError);
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace pedseg
