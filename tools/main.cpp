#include <ctime>
#include <iostream>

#include "tools/gapohm.h"

int main(int argc, char** argv) {
  return gapohmMain(argc, argv, std::cout, std::cerr, processEnvironment(), std::time(nullptr));
}
