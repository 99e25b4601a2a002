// The Wine end-to-end tests set one Wine prefix up for all their cases and tear it down after
// the last one.

#include <memory>

#include <gtest/gtest.h>

#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

std::unique_ptr<WineSession> theSession;

class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { theSession = std::make_unique<WineSession>(); }
  void TearDown() override { theSession.reset(); }
};

}  // namespace

const WineSession& session() { return *theSession; }

}  // namespace wine_e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new wine_e2e::SessionEnvironment);
  return RUN_ALL_TESTS();
}
