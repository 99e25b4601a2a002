// kestrun-publish with a signing key, in process: every regular file's digest is in the
// manifest, the signature verifies over the manifest's exact bytes (with its expiry), and the
// serial keeps growing across publishes, rollbacks, signing again and a restored site; signing
// again takes only what the key signed last, or the release the operator names.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
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

enum class Action {
  Publish, RollBackToFirst, Resign, ResignWithAnotherKey, ResignTheFirst, RollBackToFirstSigned, RollOut, ShareTo50,
  ShareTo100
};

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

// What someone who can write the site but has no key does to a manifest of the current
// release: an edit, or an older signed manifest of the site swapped in. restoreServed undoes it.
fs::path savedCopy(const fs::path& site, const std::string& name) { return site.parent_path() / ("saved-" + name); }

void restoreServed(const fs::path& site) {
  for (const char* name : {"windows.json", "windows.json.sig", "windows-candidate.json"}) {
    if (fs::exists(savedCopy(site, name))) fs::copy_file(savedCopy(site, name), site / "current" / name,
                                                         fs::copy_options::overwrite_existing);
  }
}

std::function<void(const fs::path&)> editServed(const std::string& name) {
  return [name](const fs::path& site) {
    restoreServed(site);
    fs::copy_file(site / "current" / name, savedCopy(site, name), fs::copy_options::overwrite_existing);
    const std::string text = readFile(site / "current" / name);
    fs::remove(site / "current" / name);  // a hard link shared with other releases
    writeFile(site / "current" / name, text.substr(0, text.size() - 1) + " ]");
  };
}

void swapInOldestManifest(const fs::path& site) {
  restoreServed(site);
  fs::path oldest;
  for (const auto& release : fs::directory_iterator(site / "releases")) {
    const bool leftover = release.path().filename().string()[0] == '.';  // of a refused run
    if (!leftover && (oldest.empty() || release.path() < oldest)) oldest = release.path();
  }
  for (const char* name : {"windows.json", "windows.json.sig"}) {
    fs::copy_file(site / "current" / name, savedCopy(site, name), fs::copy_options::overwrite_existing);
    fs::remove(site / "current" / name);
    fs::copy_file(oldest / name, site / "current" / name);
  }
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
    // Every path that signs takes from the site only what the key signed last.
    {"publish", Action::Publish, 0, 0, {}, 13, false, ""},
    {"roll out a candidate for 25 %", Action::RollOut, 7, 0, {}, 14, false, ""},
    {"a share change over an edited candidate", Action::ShareTo50, 7, 0, editServed("windows-candidate.json"), 0, false,
     "the signature of windows-candidate.json does not verify with this key; publish the release's tree again to sign "
     "it anew"},
    {"a rollout over an older signed manifest", Action::RollOut, 7, 0, swapInOldestManifest, 0, false,
     "windows of release {current} (serial 8) is not what this key last signed for {recorded} (serial 14); if serving "
     "it is meant, name it: --resign --rollback-to {current}"},
    {"a rollout over an edited manifest", Action::RollOut, 7, 0, editServed("windows.json"), 0, false,
     "the signature of windows.json does not verify with this key; publish the release's tree again to sign it anew"},
    {"a share for everyone over an edited manifest", Action::ShareTo100, 0, 0, editServed("windows.json"), 0, false,
     "the signature of windows.json does not verify with this key; publish the release's tree again to sign it anew"},
    {"raise the share", Action::ShareTo50, 7, 0, restoreServed, 15, false, ""},
    {"sign again with the candidate", Action::Resign, 7, 0, {}, 16, false, ""},
    {"the candidate for everyone", Action::ShareTo100, 0, 0, {}, 17, false, ""},
    {"publish in the second the served manifest was written", Action::Publish, 0, 0,
     [](const fs::path& site) {
       for (const char* name : {"windows.json", "windows.json.sig"}) {
         fs::last_write_time(site / "current" / name, fs::file_time_type::clock::now());
       }
     }, 18, false, ""},
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
  request.autoRollback = publish::AutoRollback{"", 10, {}, {}};  // asked by publishes, not by the rollout
  fs::create_directories(request.source / "bin");
  fs::create_symlink("bin/a.dll", request.source / "current");
  const publish::SiteLayout layout{request.site};

  std::string firstId;
  std::string candidateId;
  std::uint64_t highestIssued = 0;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.what);
    if (step.before) step.before(request.site);
    request.expiresInDays = step.expiresInDays;
    request.serialFloor = step.serialFloor;
    request.signingKey = step.action == Action::ResignWithAnotherKey ? anotherKey : secretKey;
    const fs::path served = request.site / "current";
    // A manifest or signature that changes under its URL is a second newer, whatever its size.
    std::map<std::string, std::pair<std::string, fs::file_time_type>> servedBefore;
    for (const char* name : {"windows.json", "windows.json.sig"}) {
      if (fs::exists(served / name)) servedBefore[name] = {readFile(served / name), fs::last_write_time(served / name)};
    }
    const std::string before = fs::exists(served) ? readFile(served / "windows.json") : "";
    const auto textOf = [](const fs::path& file) { return fs::exists(file) ? readFile(file) : std::string(); };
    const std::string serialBefore = textOf(request.site / "serial");
    const std::string recordBefore = textOf(request.signingRecord);
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
    } else if (step.action == Action::RollOut) {
      writeFile(request.source / "bin/a.dll", "candidate " + std::to_string(step.serial));
      publish::PublishRequest rollout = request;
      rollout.rolloutShare = 25;
      rollout.autoRollback.reset();
      done = publish::publishRelease(rollout, run, error);
      if (done) candidateId = run.id;
    } else if (step.action == Action::ShareTo50 || step.action == Action::ShareTo100) {
      publish::PublishRequest change = request;
      change.source.clear();
      change.rolloutShare = step.action == Action::ShareTo50 ? 50 : 100;
      done = publish::changeRollout(change, run, error);
    } else {
      request.resignFrom = step.action == Action::ResignTheFirst ? firstId : "";
      done = publish::resignRelease(request, run, error);
    }
    if (step.serial == 0) {
      EXPECT_FALSE(done);
      // Nothing is signed or recorded.
      EXPECT_EQ(textOf(request.site / "serial"), serialBefore);
      EXPECT_EQ(textOf(request.signingRecord), recordBefore);
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
    for (const auto& [name, old] : servedBefore) {
      if (step.action == Action::RollBackToFirst || step.action == Action::RollBackToFirstSigned) break;
      if (readFile(served / name) == old.first) continue;
      EXPECT_GE(fs::last_write_time(served / name), old.second + std::chrono::seconds(1)) << name;
    }

    const std::string manifest = readFile(served / "windows.json");
    ManifestSignature signature;
    ASSERT_TRUE(parseManifestSignature(readFile(served / "windows.json.sig"), signature, error)) << error;
    EXPECT_EQ(signature.serial, step.serial);
    highestIssued = std::max(highestIssued, step.serial);
    EXPECT_EQ(readFile(request.site / "serial"), std::to_string(highestIssued) + "\n");
    EXPECT_TRUE(verifyManifestSignature(publicKey, "windows", manifest, signature));
    const std::int64_t expected = publish::expiryFromNow(step.expiresInDays);
    EXPECT_NEAR(static_cast<double>(signature.expires), static_cast<double>(expected), step.expiresInDays ? 60 : 0);
    if (step.action == Action::ShareTo100) {
      // Carried from the current release onto the candidate, and signed with the rest.
      const auto rollback = publish::autoRollbackOf(manifest);
      EXPECT_TRUE(rollback && rollback->release == candidateId && rollback->windowSeconds == 10);
    }
    if (step.action == Action::Resign) {
      const fs::path previous = layout.releaseDir(run.previousId);
      EXPECT_NE(fs::read_symlink(served).filename(), run.previousId);
      EXPECT_EQ(manifest, before);
      EXPECT_TRUE(fs::equivalent(served / "windows/bin/a.dll", previous / "windows/bin/a.dll"));
      EXPECT_EQ(readFile(previous / "windows.json"), manifest);
      EXPECT_NE(readFile(previous / "windows.json.sig"), readFile(served / "windows.json.sig"));
    }
    for (const auto& entry : nlohmann::json::parse(manifest)) {
      if (!entry.contains("path")) continue;  // a rollout and its candidate's files
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
  publish::PublishRequest request = unsignedRequest(temp, false);
  ManifestPublicKey publicKey;
  ManifestSecretKey secretKey;
  ASSERT_TRUE(generateManifestKeyPair(publicKey, secretKey));
  request.signingKey = secretKey;
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
  // A staged file swapped by whoever writes the site: the manifest keeps the source's hash.
  fs::remove(run.partial / "windows/bin/b.dll");
  fs::remove(run.partial / "windows/bin/a.dll");
  writeFile(run.partial / "windows/bin/a.dll", "swapped in the site");
  ASSERT_TRUE(publish::writeManifest(request, run, error)) << error;
  EXPECT_NE(readFile(run.partial / "windows.json").find(sha256Hex("library")), std::string::npos);
}

}  // namespace
