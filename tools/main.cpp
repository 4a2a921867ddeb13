#include <ctime>
#include <exception>
#include <iostream>

#include "tools/gapohm.h"
#include "toolkit/SafeFile.h"

int main(int argc, char** argv) {
  // Before anything is written: a stopped run leaves no temporary file, a closed
  // pipe or a file past `ulimit -f` is a reported write error, not a silent end.
  tk::installTempFileCleanup();
  try {
    return gapohmMain(argc, argv, std::cout, std::cerr, processEnvironment(), std::time(nullptr));
  } catch (const std::exception& e) {
    std::cerr << "gapohm: error: internal error: " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "gapohm: error: internal error" << std::endl;
  }
  return 1;
}
