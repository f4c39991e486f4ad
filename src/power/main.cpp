// Program entry of pedseg-power.
#include <cstdio>
#include <string>
#include <vector>

#include "power/power.h"

int main(int argc, char** argv) {
  return pedseg::power::power_main(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
