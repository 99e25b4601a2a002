// Downloads that cannot be completed: manifests whose paths point outside the installation
// (a file the server keeps refusing is a row of update_rows.cpp).

#include "tests/launcher/e2e_fixture.h"

namespace e2e {
namespace {

class DownloadFailure : public LauncherEndToEnd {};

// Each hostile path alone in its manifest, so that one refused entry cannot hide another.
// The installation sits two levels below the test's root; every path below names a place
// outside the staging directory (climbing out, or absolute), and all but the first one a
// place outside the installation, inside the test's root where sentinels wait.
TEST_F(DownloadFailure, HostileManifestPathsLeaveEverythingOutsideTheInstallationUntouched) {
  const fs::path installDir = root() / "site" / "install";
  const std::string absoluteTarget = (root() / "absolute" / "evil").string();
  const std::vector<std::string> hostilePaths = {
      "../evil",                // staged: install/evil
      "../../evil",             // staged: site/evil
      "../../../evil",          // staged: the test's root
      "data/../../../../evil",  // staged: the test's root
      absoluteTarget,
  };
  // What the runs themselves add beside the installation: the server's output and the
  // launcher's captured output.
  const auto withoutRunOutput = [](std::vector<std::string> items) {
    std::erase_if(items, [](const std::string& item) {
      return item.find("server-") != std::string::npos ||
             item.find("install-runs") != std::string::npos;
    });
    return items;
  };
  for (const std::string& hostile : hostilePaths) {
    SCOPED_TRACE(hostile);
    testing_support::writeFile(root() / "evil", "sentinel\n");
    testing_support::writeFile(root() / "site" / "evil", "sentinel\n");
    fs::create_directories(root() / "absolute");
    testing_support::writeFile(root() / "manifest.json",
                               "[{\"path\": \"" + hostile +
                                   "\", \"size\": 6, \"mtime\": 1700000000}]");
    writeFaults(faultsFile(), "list-body " + (root() / "manifest.json").string() + "\n");
    Installation installation(installDir);
    const auto outsideBefore = withoutRunOutput(snapshotTree(root(), installDir));

    {
      auto server = startServer();
      ASSERT_TRUE(server->running());
      const LauncherOutcome outcome = installation.run({});
      ASSERT_TRUE(outcome.finished);
      EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
      ASSERT_FALSE(outcome.log.empty());
      EXPECT_TRUE(matchesExpected(outcome.log.back(), closingLine()))
          << outcome.log.back().message;
      for (const std::string& request : server->requests()) {
        if (request.find("/gis/update/file") == std::string::npos) continue;
        EXPECT_EQ(request.find(" -> 200 "), std::string::npos)
            << "the server handed out a file for " << request;
      }
    }

    EXPECT_EQ(withoutRunOutput(snapshotTree(root(), installDir)), outsideBefore);
    fs::remove_all(installDir);
  }
}

// Links planted where the launcher keeps its own files (by an older release, say) never carry
// one of its writes out of the installation, over two runs: a first installation, then a
// check with nothing to fetch.
TEST_F(DownloadFailure, LinksWhereTheLauncherKeepsItsFilesLeadNowhere) {
  const fs::path outside = root() / "outside";
  release().addFile("data/a.txt", "a file to fetch\n", kConfigTime);
  for (const std::string& own :
       std::vector<std::string>{"update.log", "update.lock", "update.restart.lock", "logs", "logs/" + todaysLogFileName(), "update_staging"}) {
    SCOPED_TRACE(own);
    fs::remove_all(outside);
    testing_support::writeFile(outside / "file", "sentinel\n");
    fs::create_directories(outside / "dir");
    Installation installation(root() / "install");
    const fs::path planted = installation.dir() / own;
    fs::create_directories(planted.parent_path());
    fs::create_symlink(own == "logs" || own == "update_staging" ? outside / "dir" : outside / "file", planted);
    const auto outsideBefore = snapshotTree(outside);
    {
      auto server = startServer();
      ASSERT_TRUE(server->running());
      for (int run = 0; run < 2; ++run) {
        const LauncherOutcome outcome = installation.run({});
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
      }
    }
    EXPECT_EQ(snapshotTree(outside), outsideBefore);
    fs::remove_all(installation.dir());
  }
}

}  // namespace
}  // namespace e2e
