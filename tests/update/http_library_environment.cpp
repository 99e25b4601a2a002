// The HTTP library's global state, set up once for the whole test program as the launcher does.
#include <gtest/gtest.h>

#include <string>

#include "update/http_library.h"

namespace {

class HttpLibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string errorText;
    ASSERT_TRUE(initHttpLibrary(errorText)) << errorText;
  }
  void TearDown() override { cleanupHttpLibrary(); }
};

const ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new HttpLibraryEnvironment);

}  // namespace
