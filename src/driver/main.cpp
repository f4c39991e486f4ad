// Program entry: one batch run in the current folder.
#include <cstdio>

int main() {
  std::fprintf(stderr, "pedseg: the analysis is not built yet\n");
  return 1;
}
