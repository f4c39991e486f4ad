// Replays fuzz inputs without the fuzzer: every file named on the command
// line, or found directly in a folder named there, is handed to the target
// once.  Used by the test suite for the seed corpora and the inputs that
// once found a fault.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int a = 1; a < argc; ++a) {
    const fs::path p(argv[a]);
    if (fs::is_directory(p)) {
      for (const auto& entry : fs::directory_iterator(p)) {
        if (entry.is_regular_file()) files.push_back(fs::absolute(entry.path()));
      }
    } else if (fs::is_regular_file(p)) {
      files.push_back(fs::absolute(p));
    } else {
      std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[a]);
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay: %s\n", f.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replay: %zu inputs, no fault\n", files.size());
  return 0;
}
