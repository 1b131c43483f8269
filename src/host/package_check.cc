#include "package_check.h"

namespace vesk {

bool CheckApplicationPackages(const std::vector<std::string>& names) {
  (void)names;
  return true;
}

}  // namespace vesk
