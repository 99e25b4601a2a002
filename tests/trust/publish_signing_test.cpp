// kestrun-publish with a signing key, in process: every regular file's digest is in the
// manifest, the signature verifies over the manifest's exact bytes, and the serial keeps
// growing across publishes and rollbacks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/temp_dir.h"
#include "tools/publish/publish_steps.h"
#include "tools/publish/release_signing.h"
#include "trust/sha256_hex.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

struct Step {
  const char* what;     // "publish" or "rollback to the first"
  std::uint64_t serial;  // the serial of the release that is current afterwards
  bool warned;           // whether a rollback warns that launchers will refuse it
};

const Step kSteps[] = {
    {"publish", 1, false},
    {"publish", 2, false},
    {"rollback to the first", 1, true},
    {"publish", 3, false},
};

TEST(PublishSigning, HashesEveryFileAndSignsWithAGrowingSerial) {
  TempDir temp;
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey));
  publish::PublishRequest request;
  request.source = temp / "source";
  request.site = temp / "site";
  request.platform = "windows";
  request.preferHardLinks = false;
  request.signingKey = secretKey;
  fs::create_directories(request.source / "bin");
  fs::create_symlink("bin/a.dll", request.source / "current");
  const publish::SiteLayout layout{request.site};

  std::string firstId;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    std::string error;
    if (std::string(step.what) == "publish") {
      writeFile(request.source / "bin/a.dll", "library " + std::to_string(step.serial));
      publish::PublishRun run;
      ASSERT_TRUE(publish::publishRelease(request, run, error)) << error;
      if (firstId.empty()) firstId = run.id;
      EXPECT_TRUE(publish::rollbackWarning(layout, run.id).empty());
    } else {
      ASSERT_TRUE(publish::rollBack(layout, firstId, error)) << error;
      EXPECT_FALSE(publish::rollbackWarning(layout, firstId).empty());
    }

    const fs::path served = request.site / "current";
    const std::string manifest = readFile(served / "windows.json");
    ManifestSignature signature;
    ASSERT_TRUE(parseManifestSignature(readFile(served / "windows.json.sig"), signature, error)) << error;
    EXPECT_EQ(signature.serial, step.serial);
    EXPECT_TRUE(verifyManifestSignature(publicKey, "windows", manifest, signature));
    for (const auto& entry : nlohmann::json::parse(manifest)) {
      const std::string path = entry.at("path");
      if (entry.contains("link")) {
        EXPECT_FALSE(entry.contains("sha256")) << path;
      } else {
        EXPECT_EQ(entry.at("sha256"), sha256Hex(readFile(served / "windows" / path))) << path;
      }
    }
  }
}

publish::PublishRequest unsignedRequest(const TempDir& temp, bool preferHardLinks) {
  publish::PublishRequest request;
  request.source = temp / "source";
  request.site = temp / "site";
  request.platform = "windows";
  request.preferHardLinks = preferHardLinks;
  return request;
}

struct Swap {
  const char* what;
  bool preferHardLinks;
  const char* swapped;  // the source entry replaced by a link into the publisher's own files
};

TEST(PublishSigning, NeverStagesWhatALinkSwappedIntoTheSourceAfterTheCheckLeadsTo) {
  const Swap swaps[] = {{"file, copied", false, "bin/a.dll"},
                        {"file, hard-linked", true, "bin/a.dll"},
                        {"directory", true, "bin"}};
  for (const Swap& swap : swaps) {
    SCOPED_TRACE(swap.what);
    TempDir temp;
    writeFile(temp / "source/bin/a.dll", "library");
    writeFile(temp / "keys/a.dll", "kestrun-signing-key: secret");
    const publish::PublishRequest request = unsignedRequest(temp, swap.preferHardLinks);
    publish::PublishRun run;
    std::string error;
    ASSERT_TRUE(publish::checkSource(request, run, error) && publish::prepareSite(request, run, error)) << error;
    fs::remove_all(request.source / swap.swapped);
    fs::create_symlink(temp / "keys" / fs::path(swap.swapped).lexically_relative("bin"), request.source / swap.swapped);
    EXPECT_FALSE(publish::stageRelease(request, run, error));
    EXPECT_EQ(error, "refused: bin/a.dll: replaced by a link or special file after the check");
    EXPECT_FALSE(fs::exists(run.partial / "windows/bin/a.dll"));
  }
}

TEST(PublishSigning, RefusesAStagedTreeThatIsNotWhatWasChecked) {
  TempDir temp;
  writeFile(temp / "source/bin/a.dll", "library");
  const publish::PublishRequest request = unsignedRequest(temp, false);
  publish::PublishRun run;
  std::string error;
  ASSERT_TRUE(publish::checkSource(request, run, error) && publish::prepareSite(request, run, error) &&
              publish::stageRelease(request, run, error) && publish::checkStagedRelease(request, run, error))
      << error;
  fs::create_symlink("/etc/passwd", run.partial / "windows/passwd");
  EXPECT_FALSE(publish::checkStagedRelease(request, run, error));
  EXPECT_EQ(error, "refused in the staged release: passwd: absolute link target /etc/passwd");
  fs::remove(run.partial / "windows/passwd");
  writeFile(run.partial / "windows/bin/b.dll", "unchecked");
  EXPECT_FALSE(publish::checkStagedRelease(request, run, error));
  EXPECT_EQ(error, "the staged release differs from the checked source at bin/b.dll");
}

}  // namespace
