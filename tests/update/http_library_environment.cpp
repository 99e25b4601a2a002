// The HTTP library's global state, set up once for the whole test program as the launcher does.
#include <gtest/gtest.h>

#include <memory>

#include "update/http_library.h"

namespace {

class HttpLibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    library_ = std::make_unique<HttpLibrary>();
    ASSERT_TRUE(library_->ready()) << library_->errorText();
  }
  // After the last test, whose clients are gone by then.
  void TearDown() override { library_.reset(); }

 private:
  std::unique_ptr<HttpLibrary> library_;
};

const ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new HttpLibraryEnvironment);

}  // namespace
