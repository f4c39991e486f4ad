// Program entry of pedseg-models.
#include <cstdio>
#include <string>
#include <vector>

#include "models/cli.h"

int main(int argc, char** argv) {
  return pedseg::models_main(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
