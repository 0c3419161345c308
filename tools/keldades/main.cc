// keldades: creates, loads, dumps and generates the data files.
#include <iostream>
#include <string>
#include <vector>

#include "keldades/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return tarnevos::keldades::RunKeldades(arguments, std::cout, std::cerr);
}
