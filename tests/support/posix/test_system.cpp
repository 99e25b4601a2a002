#include "tests/support/test_system.h"

namespace testing_support {

bool runningUnderWine() { return false; }

std::error_code systemErrorFor(std::errc condition) {
  // The POSIX backend hands errno on unchanged.
  return std::error_code(static_cast<int>(condition), std::system_category());
}

}  // namespace testing_support
