// The release server as a program: how it refuses to start.

#include "tests/launcher/launcher_harness.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace e2e {
namespace {

struct RefusedStart {
  const char* name;
  std::vector<std::string> arguments;  // "{root}" and "{port}" are filled in
  int exitCode;
  std::string standardError;           // a part of it
};

TEST(ReleaseServerProgram, RefusesToStartWithoutAUsableRootOrPort) {
  testing_support::TempDir temp;
  // A port that is taken: another server listens on it.
  testing_support::LoopbackServer occupant;
  occupant.start();
  const std::string takenPort = std::to_string(occupant.port());
  const std::string root = temp.path().string();

  const std::vector<RefusedStart> cases = {
      {"port taken", {"--root", root, "--port", takenPort}, 1,
       "kestrun-release-server: cannot listen on 127.0.0.1:" + takenPort +
           " (is the port already in use?)\n"},
      {"root missing", {"--root", root + "/missing", "--port", "0"}, 2,
       "kestrun-release-server: not a directory: " + root + "/missing\n"},
      {"port not a number", {"--root", root, "--port", "http"}, 2,
       "kestrun-release-server: bad port: http\n"},
      {"port too large", {"--root", root, "--port", "65536"}, 2,
       "kestrun-release-server: bad port: 65536\n"},
      {"no port", {"--root", root}, 2, "usage: kestrun-release-server"},
      {"unknown option", {"--root", root, "--port", "0", "--verbose", "1"}, 2,
       "kestrun-release-server: unknown option: --verbose\n"},
  };
  for (const RefusedStart& refused : cases) {
    SCOPED_TRACE(refused.name);
    const fs::path out = temp / "out.txt";
    const fs::path err = temp / "err.txt";
    EXPECT_EQ(runToEnd(buildSetup().releaseServer, refused.arguments, out, err, 10000),
              refused.exitCode);
    EXPECT_NE(testing_support::readFile(err).find(refused.standardError), std::string::npos)
        << testing_support::readFile(err);
  }
}

}  // namespace
}  // namespace e2e
