// Timing of free-format reading: one record of two million integers, ten a
// line, as a large iway.dat holds them.
//
//   readbench [ROUNDS]
//
// Prints the best seconds of ROUNDS reads (default 5) and the integers per
// second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "textio/textio.h"

int main(int argc, char** argv) {
  constexpr int N = 2000000;
  const int rounds = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string text;
  for (int k = 0; k < N; ++k) text += std::to_string(k % 25000 + 1) + (k % 10 == 9 ? "\n" : " ");
  std::vector<int32_t> v(N);
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    pedseg::InputFile f = pedseg::input_from_string("iway.dat", text);
    const auto t0 = std::chrono::steady_clock::now();
    pedseg::RecordReader rec = pedseg::begin_record(f, "record 5");
    for (auto& x : v) pedseg::read_int(rec, x);
    pedseg::end_record(rec);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    best = std::min(best, took.count());
  }
  std::printf("%d integers: %.3f s, %.1f million a second\n", N, best, N / best / 1e6);
  return v[N - 1] == (N - 1) % 25000 + 1 ? 0 : 1;
}
