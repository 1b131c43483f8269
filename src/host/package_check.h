// The start-up package check: every application's package must exist and
// verify, unless its pages come from <name>-package-dir.
#pragma once

#include <string>
#include <vector>

namespace vesk {

// Shows the missing-package message box for the first bad package and
// returns false once the user has closed it.
bool CheckApplicationPackages(const std::vector<std::string>& names);

}  // namespace vesk
