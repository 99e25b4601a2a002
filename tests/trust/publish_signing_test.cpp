// kestrun-publish with a signing key, in process: every regular file's digest is in the
// manifest, the signature verifies over the manifest's exact bytes (with its expiry), and the
// serial keeps growing across publishes, rollbacks, signing again and a restored site; signing
// again takes only what the key signed last, or the release the operator names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
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

enum class Action { Publish, RollBackToFirst, Resign, ResignWithAnotherKey, ResignTheFirst, RollBackToFirstSigned };

struct Step {
  const char* what;
  Action action;
  int expiresInDays;
  std::uint64_t serialFloor;
  std::function<void(const fs::path& site)> before;  // what happens to the site first
  std::uint64_t serial;  // of the release current afterwards; 0: the step is refused
  bool warned;           // whether a rollback warns that launchers will refuse it
  // The error of a refused step; {site}, {recorded}, {first}, {current} and {record} stand for theirs.
  const char* refusal;
};

void loseReleases(const fs::path& site) {
  fs::remove_all(site / "releases");
  fs::remove(site / "current");
}

const Step kSteps[] = {
    {"publish", Action::Publish, 0, 0, {}, 1, false, ""},
    {"publish", Action::Publish, 0, 0, {}, 2, false, ""},
    {"rollback to the first", Action::RollBackToFirst, 0, 0, {}, 1, true, ""},
    {"publish", Action::Publish, 0, 0, {}, 3, false, ""},
    {"publish, expiring in 7 days", Action::Publish, 7, 0, {}, 4, false, ""},
    {"sign the current release again", Action::Resign, 3, 0, {}, 5, false, ""},
    {"sign again with another key", Action::ResignWithAnotherKey, 0, 0, {}, 0, false,
     "the signature of windows.json does not verify with this key; publish the release's tree again to sign "
     "it anew"},
    {"restored without its releases", Action::Publish, 0, 0, loseReleases, 6, false, ""},
    {"restored without serial, floor 7", Action::Publish, 0, 7,
     [](const fs::path& site) { loseReleases(site); fs::remove(site / "serial"); }, 8, false, ""},
    {"damaged serial", Action::Resign, 0, 0, [](const fs::path& site) { writeFile(site / "serial", "9x\n"); }, 0,
     false, "{site}/serial is damaged (it must hold one serial in decimal, the highest this site has signed with); "
     "write that serial into it, or remove it and give the serial with --serial-floor"},
    {"publish", Action::Publish, 0, 0, [](const fs::path& site) { writeFile(site / "serial", "8\n"); }, 9, false, ""},
    {"rollback to the first", Action::RollBackToFirst, 0, 0, {}, 8, true, ""},
    {"sign the rolled-back release again", Action::Resign, 0, 0, {}, 0, false,
     "windows of release {first} (serial 8) is not what this key last signed for {recorded} (serial 9); if serving it "
     "is meant, name it: --resign --rollback-to {first}"},
    {"sign it again, named", Action::ResignTheFirst, 0, 0, {}, 10, false, ""},
    {"sign again", Action::Resign, 0, 0, {}, 11, false, ""},
    {"rollback to the first with the key", Action::RollBackToFirstSigned, 0, 0, {}, 8, true, ""},
    {"sign again", Action::Resign, 0, 0, {}, 12, false, ""},
    {"a signer without its record", Action::Resign, 0, 0,
     [](const fs::path& site) { fs::remove(site.parent_path() / "key.last-signed"); }, 0, false,
     "windows of release {current} (serial 12) cannot be checked: {record} has no record of signing windows for "
     "{recorded}; if serving it is meant, name it: --resign --rollback-to {current}"},
};

TEST(PublishSigning, HashesEveryFileAndSignsWithAGrowingSerial) {
  TempDir temp;
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  ManifestPublicKey anotherPublicKey;
  ManifestSecretKey anotherKey;
  ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey) && generateManifestKeyPair(anotherPublicKey, anotherKey));
  publish::PublishRequest request;
  request.source = temp / "source";
  request.site = temp / "site";
  request.platform = "windows";
  request.preferHardLinks = false;
  request.signingRecord = temp / "key.last-signed";
  fs::create_directories(request.source / "bin");
  fs::create_symlink("bin/a.dll", request.source / "current");
  const publish::SiteLayout layout{request.site};

  std::string firstId;
  std::uint64_t highestIssued = 0;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    if (step.before) step.before(request.site);
    request.expiresInDays = step.expiresInDays;
    request.serialFloor = step.serialFloor;
    request.signingKey = step.action == Action::ResignWithAnotherKey ? anotherKey : secretKey;
    const fs::path served = request.site / "current";
    const std::string before = fs::exists(served) ? readFile(served / "windows.json") : "";
    std::string error;
    publish::PublishRun run;
    bool done = true;
    if (step.action == Action::Publish) {
      writeFile(request.source / "bin/a.dll", "library " + std::to_string(step.serial));
      done = publish::publishRelease(request, run, error);
      if (firstId.empty() || !fs::exists(layout.releaseDir(firstId))) firstId = run.id;
      EXPECT_TRUE(publish::rollbackWarning(layout, run.id).empty());
    } else if (step.action == Action::RollBackToFirst || step.action == Action::RollBackToFirstSigned) {
      const bool withKey = step.action == Action::RollBackToFirstSigned;
      ASSERT_TRUE(publish::rollBack(layout, firstId, error, {}, withKey ? &secretKey : nullptr,
                                    withKey ? request.signingRecord : fs::path()))
          << error;
      EXPECT_FALSE(publish::rollbackWarning(layout, firstId).empty());
    } else {
      request.resignFrom = step.action == Action::ResignTheFirst ? firstId : "";
      done = publish::resignRelease(request, run, error);
    }
    if (step.serial == 0) {
      EXPECT_FALSE(done);
      std::string refusal = step.refusal;
      const std::pair<std::string, std::string> names[] = {
          {"{site}", request.site.string()},
          {"{recorded}", publish::recordedSiteName(request.site)},
          {"{first}", firstId},
          {"{current}", fs::read_symlink(served).filename().string()},
          {"{record}", request.signingRecord.string()}};
      for (const auto& [name, value] : names) {
        for (auto at = refusal.find(name); at != std::string::npos; at = refusal.find(name)) {
          refusal.replace(at, name.size(), value);
        }
      }
      EXPECT_EQ(error, refusal);
      continue;
    }
    ASSERT_TRUE(done) << error;

    const std::string manifest = readFile(served / "windows.json");
    ManifestSignature signature;
    ASSERT_TRUE(parseManifestSignature(readFile(served / "windows.json.sig"), signature, error)) << error;
    EXPECT_EQ(signature.serial, step.serial);
    highestIssued = std::max(highestIssued, step.serial);
    EXPECT_EQ(readFile(request.site / "serial"), std::to_string(highestIssued) + "\n");
    EXPECT_TRUE(verifyManifestSignature(publicKey, "windows", manifest, signature));
    const std::int64_t expected = publish::expiryFromNow(step.expiresInDays);
    EXPECT_NEAR(static_cast<double>(signature.expires), static_cast<double>(expected), step.expiresInDays ? 60 : 0);
    if (step.action == Action::Resign) {
      const fs::path previous = layout.releaseDir(run.previousId);
      EXPECT_NE(fs::read_symlink(served).filename(), run.previousId);
      EXPECT_EQ(manifest, before);
      EXPECT_TRUE(fs::equivalent(served / "windows/bin/a.dll", previous / "windows/bin/a.dll"));
      EXPECT_EQ(readFile(previous / "windows.json"), manifest);
      EXPECT_NE(readFile(previous / "windows.json.sig"), readFile(served / "windows.json.sig"));
    }
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
