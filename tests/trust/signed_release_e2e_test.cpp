// Signed releases end to end: kestrun-keygen makes the key, kestrun-publish --sign-key
// publishes a site, kestrun-release-server or a private nginx with the shipped configuration
// serves it on 127.0.0.1, and the launcher (built
// from the same run flow, its key given by the test) installs it, or refuses what was changed
// after publishing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "platform/environment.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"
#include "tests/trust/case_name.h"
#include "trust/sha256_hex.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::waitUntil;
using testing_support::writeFile;

// A helper program run through the shell, so that its output lands in files; exec keeps the
// process id, by which it is waited for or stopped.
class Program {
 public:
  Program(const std::vector<std::string>& command, const fs::path& out, const fs::path& workingDir) : out_(out) {
    std::vector<platform::NativeString> arguments = {
        "-c", "o=$1; shift; exec \"$@\" >\"$o\" 2>\"$o.err\" </dev/null", "sh", out.string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    std::uint32_t errorCode = 0;
    process_ = platform::startProcess("/bin/sh", arguments, workingDir, errorCode);
    if (!process_) ADD_FAILURE() << "cannot start " << command.front() << ": error " << errorCode;
  }
  ~Program() {
    std::uint32_t errorCode = 0;
    if (process_ && !ended()) {
      platform::terminateProcess(*process_, 0, errorCode);
      platform::waitForExit(*process_, 10000, errorCode);
    }
  }
  bool ended() {
    std::uint32_t errorCode = 0;
    return platform::waitForExit(*process_, 0, errorCode) != platform::WaitResult::TimedOut;
  }
  // The exit code, or -1 when it did not end within timeoutMs.
  int wait(int timeoutMs) {
    std::uint32_t errorCode = 0;
    std::uint32_t exitCode = 0;
    if (!process_ || platform::waitForExit(*process_, timeoutMs, errorCode) != platform::WaitResult::Exited ||
        !platform::readExitCode(*process_, exitCode, errorCode)) {
      return -1;
    }
    return static_cast<int>(exitCode);
  }
  std::string output() const { return readFile(out_); }
  std::string errors() const { return readFile(fs::path(out_.string() + ".err")); }

 private:
  fs::path out_;
  platform::ProcessHandle process_;
};

// Replaces a file through a rename, as an attacker on the host would, leaving hard-linked
// copies of the old file alone.
void replaceFile(const fs::path& file, const std::string& content) {
  writeFile(file.string() + ".new", content);
  fs::rename(file.string() + ".new", file);
}

// What is changed on the site after publishing.
enum class Change { Nothing, TamperedFile, SwappedManifest };
// What serves the site.
enum class Host { ReleaseServer, Nginx };

struct E2eCase {
  const char* name;
  Host host;
  bool keyBuiltIn;
  Change change;
  const char* acceptedBefore;  // update_serial.txt before the run; nullptr: none
  bool installed;              // data/config.txt of the release reaches the installation
  const char* logText;         // a text the run's log must hold; nullptr: none
  const char* acceptedAfter;   // update_serial.txt afterwards; nullptr: none
};

const E2eCase kCases[] = {
    {"signed release is installed", Host::ReleaseServer, true, Change::Nothing, nullptr, true,
     "更新检查完成：待更新文件=3", "1\n"},
    {"tampered file is refused", Host::ReleaseServer, true, Change::TamperedFile, nullptr, false,
     "更新下载失败：下载文件失败：data/config.txt（sha256 不一致：应为 ", "1\n"},
    {"swapped manifest is refused", Host::ReleaseServer, true, Change::SwappedManifest, nullptr, false,
     "更新检查失败：无法获取更新清单：清单签名验证失败", nullptr},
    {"older release is refused", Host::ReleaseServer, true, Change::Nothing, "5\n", false,
     "更新检查失败：无法获取更新清单：清单序号低于已接受的序号（收到 1，已接受 5）", "5\n"},
    {"launcher without a key installs as before", Host::ReleaseServer, false, Change::Nothing, nullptr, true,
     "更新检查完成：待更新文件=3", nullptr},
    {"nginx: signed release is installed", Host::Nginx, true, Change::Nothing, nullptr, true,
     "更新检查完成：待更新文件=3", "1\n"},
    {"nginx: tampered file is refused", Host::Nginx, true, Change::TamperedFile, nullptr, false,
     "更新下载失败：下载文件失败：data/config.txt（sha256 不一致：应为 ", "1\n"},
    {"nginx: swapped manifest is refused", Host::Nginx, true, Change::SwappedManifest, nullptr, false,
     "更新检查失败：无法获取更新清单：清单签名验证失败", nullptr},
};

class SignedReleaseEndToEnd : public ::testing::TestWithParam<E2eCase> {
 protected:
  fs::path keyFile() const { return temp / "signing.key"; }
  fs::path site() const { return temp / "site"; }
  fs::path install() const { return temp / "install"; }

  // kestrun-keygen, then kestrun-publish --sign-key; returns the public key.
  std::string publishSignedRelease() {
    Program keygen({KESTRUN_KEYGEN, keyFile().string()}, temp / "keygen.out", temp.path());
    EXPECT_EQ(keygen.wait(10000), 0) << keygen.errors();
    std::smatch match;
    const std::string printed = keygen.output();
    EXPECT_TRUE(std::regex_search(printed, match, std::regex("-DKESTRUN_MANIFEST_PUBLIC_KEY=(\\S+)"))) << printed;
    // The key is its owner's alone, and a link at the path is never written through.
    EXPECT_EQ(fs::status(keyFile()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    writeFile(temp / "elsewhere", "untouched");
    fs::create_symlink(temp / "elsewhere", temp / "linked.key");
    Program refused({KESTRUN_KEYGEN, (temp / "linked.key").string()}, temp / "refused.out", temp.path());
    EXPECT_EQ(refused.wait(10000), 1);
    EXPECT_EQ(refused.errors(),
              "kestrun-keygen: " + (temp / "linked.key").string() + " already exists; it is not overwritten\n");
    EXPECT_EQ(readFile(temp / "elsewhere"), "untouched");

    const fs::path source = temp / "source";
    fs::create_directories(source / "data");
    fs::copy_file(KESTRUN_SAMPLE_MAIN_PROGRAM, source / "Vardel.exe");
    writeFile(source / "vardel-behaviour.txt", "exit 0\n");
    writeFile(source / "data/config.txt", "colour = blue\n");
    Program publish({KESTRUN_PUBLISH, "--source", source.string(), "--site", site().string(), "--platform", "windows",
                     "--sign-key", keyFile().string()},
                    temp / "publish.out", temp.path());
    EXPECT_EQ(publish.wait(30000), 0) << publish.errors();
    return match.size() > 1 ? match[1].str() : "";
  }

  // kestrun-release-server on a port of its choosing; returns its base address.
  std::string startReleaseServer(std::unique_ptr<Program>& server, const fs::path& served) {
    server = std::make_unique<Program>(
        std::vector<std::string>{KESTRUN_RELEASE_SERVER, "--root", served.string(), "--port", "0"},
        temp / "server.out", temp.path());
    std::smatch port;
    std::string out;
    waitUntil(
        [&] {
          out = server->output();
          return std::regex_search(out, port, std::regex("http://127\\.0\\.0\\.1:(\\d+)")) || server->ended();
        },
        10000);
    if (server->ended() || port.size() < 2) {
      ADD_FAILURE() << "the release server did not come up: " << server->errors();
      return "";
    }
    return "http://127.0.0.1:" + port[1].str();
  }

  static std::string nginxScript() { return std::string(KESTRUN_SOURCE_DIR) + "/deploy/nginx/run-local.sh"; }

  // Why nginx cannot run here, or empty.
  std::string nginxMissing() {
    Program check({"/bin/sh", nginxScript(), "--check"}, temp / "nginx-check.out", temp.path());
    return check.wait(10000) == 0 ? "" : "nginx cannot run here: " + check.output();
  }

  // A private nginx with the shipped configuration (deploy/nginx) on a loopback port; a port
  // that turns out to be taken is replaced by another one.
  std::string startNginx(std::unique_ptr<Program>& server, const std::string& accessLog = "off") {
    std::random_device random;
    for (int attempt = 1; attempt <= 5; ++attempt) {
      const int port = 30000 + static_cast<int>(random() % 30000);
      server = std::make_unique<Program>(
          std::vector<std::string>{"/bin/sh", nginxScript(), "--site", site().string(), "--listen",
                                   "127.0.0.1:" + std::to_string(port), "--prefix", (temp / "nginx").string(),
                                   "--access-log", accessLog},
          temp / "nginx.out", temp.path());
      httplib::Client client("127.0.0.1", port);
      client.set_connection_timeout(1);
      waitUntil(
          [&] {
            const auto answer = client.Get("/gis/update/signature?platform=windows");
            return answer || server->ended();
          },
          10000);
      if (!server->ended()) return "http://127.0.0.1:" + std::to_string(port);
      if (server->errors().find("Address already in use") == std::string::npos) break;
    }
    ADD_FAILURE() << "nginx did not come up: " << server->errors();
    return "";
  }

  // The launcher's log of today, whatever its date.
  std::string launcherLog() const {
    std::string log;
    for (const auto& item : fs::directory_iterator(install() / "logs")) log += readFile(item.path());
    return log;
  }

  TempDir temp;
};

TEST_P(SignedReleaseEndToEnd, InstallsOnlyWhatWasSigned) {
  const E2eCase& c = GetParam();
  if (c.host == Host::Nginx) {
    const std::string why = nginxMissing();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  const std::string publicKey = publishSignedRelease();
  const fs::path served = site() / "current";
  ASSERT_TRUE(fs::exists(served / "windows.json.sig"));
  // The tampered file keeps its size; the swapped manifest also gives its digest.
  const std::string tampered = "colour = red!\n";
  if (c.change != Change::Nothing) replaceFile(served / "windows/data/config.txt", tampered);
  if (c.change == Change::SwappedManifest) {
    std::string manifest = readFile(served / "windows.json");
    const std::size_t at = manifest.find(sha256Hex("colour = blue\n"));
    ASSERT_NE(at, std::string::npos) << manifest;
    replaceFile(served / "windows.json", manifest.replace(at, 64, sha256Hex(tampered)));
  }

  std::unique_ptr<Program> server;
  const std::string baseUrl = c.host == Host::Nginx ? startNginx(server) : startReleaseServer(server, served);
  if (baseUrl.empty()) return;

  fs::create_directories(install());
  fs::copy_file(KESTRUN_SIGNED_LAUNCHER, install() / "Kestrun");
  if (c.acceptedBefore) writeFile(install() / "update_serial.txt", c.acceptedBefore);
  const fs::path home = temp / "home";
  Program launcher({"/usr/bin/env", "-u", "DISPLAY", "HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
                    "KESTRUN_TEST_BASE_URL=" + baseUrl,
                    "KESTRUN_TEST_MANIFEST_KEY=" + (c.keyBuiltIn ? publicKey : std::string()),
                    (install() / "Kestrun").string()},
                   temp / "launcher.out", temp.path());
  ASSERT_EQ(launcher.wait(60000), 0) << launcher.errors();

  const std::string log = launcherLog();
  if (c.logText) {
    EXPECT_NE(log.find(c.logText), std::string::npos) << log;
  }
  EXPECT_EQ(fs::exists(install() / "data/config.txt"), c.installed) << log;
  if (c.installed) {
    EXPECT_EQ(readFile(install() / "data/config.txt"), "colour = blue\n");
  }
  EXPECT_FALSE(fs::exists(install() / "update_staging/data/config.txt")) << "nothing refused may wait to be applied";
  if (c.acceptedAfter) {
    EXPECT_EQ(readFile(install() / "update_serial.txt"), c.acceptedAfter);
  } else {
    EXPECT_FALSE(fs::exists(install() / "update_serial.txt"));
  }
  if (c.host == Host::ReleaseServer) {
    const bool askedForSignature =
        server->output().find("GET /gis/update/signature?platform=windows") != std::string::npos;
    EXPECT_EQ(askedForSignature, c.keyBuiltIn) << server->output();
  }
}

// A release signed again while a launcher downloads from it: the download runs to its end with
// the bytes it started with, since the old release stays until it is pruned.
class ResignDuringDownload : public SignedReleaseEndToEnd {};

TEST_F(ResignDuringDownload, TheRunningDownloadEndsWithTheOldReleasesBytes) {
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  writeFile(temp / "source/big.bin", big);
  publishSignedRelease();
  const fs::path oldRelease = fs::canonical(site() / "current");
  writeFile(temp / "faults.txt", "file-throttle 1000000 big.bin\n");
  std::unique_ptr<Program> server = std::make_unique<Program>(
      std::vector<std::string>{KESTRUN_RELEASE_SERVER, "--root", (site() / "current").string(), "--port", "0",
                               "--faults", (temp / "faults.txt").string()},
      temp / "server.out", temp.path());
  std::smatch port;
  std::string out;
  ASSERT_TRUE(waitUntil([&] { return std::regex_search(out = server->output(), port, std::regex(":(\\d+)")); }, 10000));

  std::atomic<bool> done = false;
  int status = 0;
  std::string body;
  std::thread download([&] {
    httplib::Client client("127.0.0.1", std::stoi(port[1].str()));
    if (const auto answer = client.Get("/gis/update/file?platform=windows&path=big.bin")) {
      status = answer->status;
      body = answer->body;
    }
    done = true;
  });
  // The server prints a request's line before it answers: the download is then under way.
  ASSERT_TRUE(waitUntil([&] { return server->output().find("path=big.bin") != std::string::npos; }, 20000));
  Program resign({KESTRUN_PUBLISH, "--site", site().string(), "--resign", "--sign-key", keyFile().string(), "--expires",
                  "7"},
                 temp / "resign.out", temp.path());
  EXPECT_EQ(resign.wait(30000), 0) << resign.errors();
  EXPECT_FALSE(done) << "the download ended before the release was signed again";
  download.join();
  EXPECT_EQ(status, 200);
  EXPECT_TRUE(body == big) << "a download of " << body.size() << " bytes";
  EXPECT_NE(fs::canonical(site() / "current"), oldRelease);
  EXPECT_EQ(readFile(oldRelease / "windows/big.bin"), big);
  EXPECT_NE(readFile(site() / "current/windows.json.sig"), readFile(oldRelease / "windows.json.sig"));
}

// A candidate rolled out to a share of real launchers, against nginx with the shipped
// configuration. Installations A, B and C get identifiers whose place under the candidate's
// salt is known (below 25 %, below 50 %, above); D draws its own.
class RolloutEndToEnd : public SignedReleaseEndToEnd {
 protected:
  void publishTool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {KESTRUN_PUBLISH, "--site", site().string()});
    if (!publicKey.empty()) arguments.insert(arguments.end(), {"--sign-key", keyFile().string(), "--expires", "7"});
    Program publish(arguments, temp / "publish.out", temp.path());
    ASSERT_EQ(publish.wait(60000), 0) << publish.errors();
  }
  void publishColour(const std::string& colour, const std::vector<std::string>& extra) {
    const fs::path source = temp / ("source-" + colour);
    fs::create_directories(source / "data");
    fs::copy_file(KESTRUN_SAMPLE_MAIN_PROGRAM, source / "Vardel.exe", fs::copy_options::overwrite_existing);
    writeFile(source / "vardel-behaviour.txt", "exit 0\n");
    writeFile(source / "data/config.txt", colour + "\n");
    std::vector<std::string> arguments = {"--source", source.string(), "--platform", "windows"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    publishTool(arguments);
  }
  fs::path dirOf(const std::string& name) const { return temp / ("install-" + name); }
  // Runs the launcher of an installation; its colour afterwards, and the requests it sent.
  std::string run(const std::string& name, std::vector<std::string>& requests) {
    if (!fs::exists(dirOf(name) / "Kestrun")) {
      fs::create_directories(dirOf(name));
      fs::copy_file(KESTRUN_SIGNED_LAUNCHER, dirOf(name) / "Kestrun");
    }
    const std::size_t before = readFile(temp / "access.log").size();
    Program launcher({"/usr/bin/env", "-u", "DISPLAY", "HOME=" + (temp / "home").string(),
                      "XDG_DATA_HOME=" + (temp / "home/data").string(), "KESTRUN_TEST_BASE_URL=" + baseUrl,
                      "KESTRUN_TEST_MANIFEST_KEY=" + publicKey, (dirOf(name) / "Kestrun").string()},
                     temp / "launcher.out", temp.path());
    EXPECT_EQ(launcher.wait(60000), 0) << launcher.errors();
    // One nginx process answers and logs each request in turn: once a request of ours made
    // after the run is logged, so is every request of the run.
    const std::string mark = "/gis/update/list?platform=mark" + std::to_string(++marks);
    httplib::Client(baseUrl).Get(mark);
    std::string log;
    EXPECT_TRUE(waitUntil([&] { return (log = readFile(temp / "access.log").substr(before)).find(mark) != std::string::npos; },
                          10000));
    log = log.substr(0, log.find(mark));
    const std::regex request("\"GET ([^ ]+) HTTP");
    requests.clear();
    for (auto it = std::sregex_iterator(log.begin(), log.end(), request); it != std::sregex_iterator(); ++it) {
      requests.push_back((*it)[1]);
    }
    return fs::exists(dirOf(name) / "data/config.txt") ? readFile(dirOf(name) / "data/config.txt") : "none";
  }
  // Gives an installation an identifier whose hash under the candidate's salt is in [low, high).
  void placeInstallation(const std::string& name, double low, double high) {
    std::smatch salt;
    const std::string manifest = readFile(site() / "current/windows.json");
    ASSERT_TRUE(std::regex_search(manifest, salt, std::regex("\"salt\":\"([0-9a-f]{64})\"")));
    std::mt19937_64 random(std::random_device{}());
    for (;;) {
      char id[33];
      std::snprintf(id, sizeof id, "%016llx%016llx", static_cast<unsigned long long>(random()),
                    static_cast<unsigned long long>(random()));
      const double at = std::stoull(sha256Hex(salt[1].str() + ":" + id).substr(0, 13), nullptr, 16) / 4503599627370496.0;
      if (at < low || at >= high) continue;
      writeFile(dirOf(name) / "update_id.txt",
                std::string(id) + "\n" + platform::computerName() + "\n" + fs::canonical(dirOf(name)).string());
      return;
    }
  }

  void rollOut(bool signedSite) {
    const std::string why = nginxMissing();
    if (!why.empty()) GTEST_SKIP() << why;
    if (signedSite) {
      Program keygen({KESTRUN_KEYGEN, keyFile().string()}, temp / "keygen.out", temp.path());
      ASSERT_EQ(keygen.wait(10000), 0) << keygen.errors();
      std::smatch key;
      const std::string printed = keygen.output();
      ASSERT_TRUE(std::regex_search(printed, key, std::regex("-DKESTRUN_MANIFEST_PUBLIC_KEY=(\\S+)")));
      publicKey = key[1].str();
    }
    // The unsigned site asks for health reports; the signed one does not, and gets none.
    publishColour("blue", signedSite ? std::vector<std::string>{} : std::vector<std::string>{"--health-reports"});
    std::map<char, std::string> releaseOf = {{'b', fs::read_symlink(site() / "current").filename().string()}};
    std::map<std::string, std::string> before;
    writeFile(temp / "access.log", "");
    std::unique_ptr<Program> nginx;
    baseUrl = startNginx(nginx, (temp / "access.log").string());
    ASSERT_FALSE(baseUrl.empty());
    const auto expected = [&](char colour, const std::string& result) {
      std::vector<std::string> requests = {"/gis/update/list?platform=windows"};
      if (signedSite) requests.push_back("/gis/update/signature?platform=windows");
      if (!signedSite) {
        requests.push_back("/gis/update/health?platform=windows&release=" + releaseOf[colour] + "&result=" + result);
      }
      return requests;
    };

    std::vector<std::string> requests;
    const struct {
      const char* share;    // the publish before the runs
      const char* colours;  // of A, B, C and D afterwards: b(lue), g(reen), ? (D's own draw)
    } steps[] = {{"", "bbbb"}, {"25", "gbb?"}, {"50", "ggb?"}, {"0", "bbbb"}, {"100", "gggg"}};
    for (const auto& step : steps) {
      SCOPED_TRACE(std::string("share ") + step.share);
      if (step.share == std::string("25")) {
        publishColour("green", {"--rollout", "25"});
        releaseOf['g'] = fs::read_symlink(site() / "current").filename().string();
        placeInstallation("A", 0, 0.25);
        placeInstallation("B", 0.25, 0.5);
        placeInstallation("C", 0.5, 1);
      } else if (*step.share != '\0') {
        publishTool({"--rollout", step.share});
      }
      for (int i = 0; i < 4; ++i) {
        const std::string name(1, "ABCD"[i]);
        const std::string colour = run(name, requests);
        if (step.colours[i] != '?') {
          EXPECT_EQ(colour, step.colours[i] == 'g' ? "green\n" : "blue\n") << name;
        }
        const char c = colour[0];
        // The sample program exits at once: an early exit after the update, with its code.
        if (!signedSite && colour != before[name] && !requests.empty()) {
          EXPECT_EQ(requests.back(), expected(c, "updated&early_exit=1&exit_code=0").back()) << name;
        }
        before[name] = colour;
        EXPECT_EQ(run(name, requests), colour) << name << ": the same on a second run";
        EXPECT_EQ(requests, expected(c, "up_to_date")) << name << ": once up to date, a run asks what it always asked";
      }
      if (!signedSite) continue;
      if (step.share == std::string("50")) {
        inRollout = {readFile(site() / "current/windows.json"), readFile(site() / "current/windows.json.sig")};
        // A signature that never expires could move a launcher onto the candidate after a halt.
        Program resign({KESTRUN_PUBLISH, "--site", site().string(), "--resign", "--sign-key", keyFile().string()},
                       temp / "resign.out", temp.path());
        EXPECT_NE(resign.wait(30000), 0);
        const std::string current = fs::read_symlink(site() / "current").filename().string();
        EXPECT_NE(resign.errors().find("kestrun-publish: windows of release " + current +
                                       " offers a candidate: signing it again needs --expires\n"),
                  std::string::npos)
            << resign.errors();
        EXPECT_EQ(readFile(site() / "current/windows.json.sig"), inRollout[1]);
      }
      if (step.share != std::string("0")) continue;
      // The signed state before the halt, replayed to a launcher that went back: refused.
      const std::vector<std::string> halted = {readFile(site() / "current/windows.json"),
                                               readFile(site() / "current/windows.json.sig")};
      replaceFile(site() / "current/windows.json", inRollout[0]);
      replaceFile(site() / "current/windows.json.sig", inRollout[1]);
      EXPECT_EQ(run("A", requests), "blue\n");
      std::string log;
      for (const auto& item : fs::directory_iterator(dirOf("A") / "logs")) log += readFile(item.path());
      EXPECT_NE(log.find("清单序号低于已接受的序号"), std::string::npos) << log;
      replaceFile(site() / "current/windows.json", halted[0]);
      replaceFile(site() / "current/windows.json.sig", halted[1]);
    }
  }

  std::string publicKey;
  std::string baseUrl;
  std::vector<std::string> inRollout;  // the manifest and signature at 50 %
  int marks = 0;
};

TEST_F(RolloutEndToEnd, UnsignedSite) { rollOut(false); }
TEST_F(RolloutEndToEnd, SignedSite) { rollOut(true); }

INSTANTIATE_TEST_SUITE_P(Cases, SignedReleaseEndToEnd, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<E2eCase>& info) { return caseName(info.param.name); });

}  // namespace
