// The example par.inp of the documentation, shared by the driver tests.
#pragma once

#include <string>

namespace pedseg {

// Trait file trait.dat; q, two means, the polygenic effect and the residual
// variance free; the mean of genotype 3 linked to genotype 2.
inline const char* const EXAMPLE_PAR_INP =
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

// `text` with its line `n` (from 1) replaced by `line`.
inline std::string replace_line(const std::string& text, int n, const std::string& line) {
  size_t start = 0;
  for (int k = 1; k < n; ++k) start = text.find('\n', start) + 1;
  return text.substr(0, start) + line + text.substr(text.find('\n', start));
}

}  // namespace pedseg
