// Kestrun.exe under Wine registers its two URL schemes for the current user at every start;
// the values are read back with Wine's own reg.exe.

#include "tests/launcher/e2e_fixture.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using namespace e2e;

class UrlSchemes : public WineEndToEnd {};

// The values below `key` as "key | name | type | data" lines, from the output of
// `reg query KEY /s`: a key line, then one line per value, "    NAME    TYPE    DATA".
std::vector<std::string> registryValues(const std::string& key, const fs::path& output) {
  std::vector<std::string> values;
  const int exitCode = session().run({"wine", "reg", "query", key, "/s"}, output, 60000);
  if (exitCode != 0) {
    ADD_FAILURE() << "reg query " << key << " ended with " << exitCode << ": "
                  << testing_support::readFile(output.string() + ".err");
    return values;
  }
  const std::string gap = "    ";
  std::string currentKey;
  for (std::string line : readLines(output)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("HKEY_", 0) == 0) {
      currentKey = line;
    } else if (line.rfind(gap, 0) == 0) {
      const std::size_t typeAt = line.find(gap + "REG_", gap.size());
      if (typeAt == std::string::npos) continue;
      const std::string name = line.substr(gap.size(), typeAt - gap.size());
      const std::size_t dataAt = line.find(gap, typeAt + gap.size());
      const std::string type = line.substr(typeAt + gap.size(), dataAt - typeAt - gap.size());
      const std::string data = dataAt == std::string::npos ? "" : line.substr(dataAt + gap.size());
      values.push_back(currentKey + " | " + name + " | " + type + " | " + data);
    }
  }
  return values;
}

TEST_F(UrlSchemes, BothPointAtTheLauncherWithTheUrlAsItsOneArgument) {
  publishSampleRelease(release());
  // A blank in the installation's path: the command quotes the launcher's path.
  Installation installation(root() / "Fennick Apps" / "install");
  installation.mirror(release());
  installation.setMainProgramBehaviour("stay 60");
  writeFaults(faultsFile(), "");
  auto server = startServer();
  ASSERT_TRUE(server->running());

  const LauncherOutcome outcome = installation.run({}, runOptions());

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(logMatches(outcome.log, nothingToFetchLines(installation)));
  const auto starts = installation.mainProgramStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, windowsCommandLine(installation.mainProgramText(), {}));

  const std::string command = "\"" + launcherPathText(installation.launcher()) + "\" \"%1\"";
  struct Scheme {
    std::string name;
    std::string displayText;
  };
  for (const Scheme& scheme : {Scheme{"oloma", "URL:Oloma Protocol"}, Scheme{"vardel", "URL:Vardel Protocol"}}) {
    SCOPED_TRACE(scheme.name);
    const std::string key = "HKEY_CURRENT_USER\\Software\\Classes\\" + scheme.name;
    // Nothing else below the scheme's key: no icon, no other verb.
    EXPECT_EQ(registryValues("HKCU\\Software\\Classes\\" + scheme.name, root() / ("reg-" + scheme.name + ".txt")),
              (std::vector<std::string>{key + " | (Default) | REG_SZ | " + scheme.displayText,
                                        key + " | URL Protocol | REG_SZ | ",
                                        key + "\\shell\\open\\command | (Default) | REG_SZ | " + command}));
  }
}

}  // namespace
}  // namespace wine_e2e
