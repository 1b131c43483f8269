// qbun: the package tool.
#include <exception>
#include <iostream>

#include "qbun_commands.h"

int main(int argc, char** argv) {
  // The tool's own error report on its terminal (not a callback's barrier).
  try {
    return vesk::qbun::RunQbun(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::cerr << "qbun: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "qbun: unexpected failure\n";
  }
  return vesk::qbun::kExitFailed;
}
