// kestrun-publish as a program: what a publish writes, the other platforms it keeps, pruning
// and rollback, and the sources and command lines it refuses.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/release_tools/site_check.h"
#include "tests/release_tools/tool_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zstd_frame.h"
#include "tools/release_manifest/release_manifest.h"

namespace release_tools_test {
namespace {

using testing_support::readFile;
using testing_support::writeFile;

void setNanoTime(const fs::path& file, long long nanoseconds) {
  const std::chrono::sys_time<std::chrono::nanoseconds> moment{std::chrono::nanoseconds(nanoseconds)};
  fs::last_write_time(file, std::chrono::file_clock::from_sys(moment));
}

class PublishProgram : public ::testing::Test {
 protected:
  fs::path source() const { return temp_ / "source"; }
  fs::path site() const { return temp_ / "site"; }

  void writeSampleSource(const std::string& flavour) {
    writeFile(source() / "Vardel.exe", "program " + flavour);
    writeFile(source() / "Sample Plugin+1/a b.txt", "plugin " + flavour);
    setNanoTime(source() / "Vardel.exe", 1700000000123456789LL);
    setNanoTime(source() / "Sample Plugin+1/a b.txt", 1700000100000000001LL);
    fs::create_directories(source() / "empty dir");
    fs::create_symlink("a b.txt", source() / "Sample Plugin+1/latest");
  }

  ToolRun publish(std::vector<std::string> extra = {}, const std::string& platform = "windows") {
    std::vector<std::string> arguments = {"--source", source().string(), "--site",
                                          site().string(), "--platform", platform};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runTool(toolPaths().publish, arguments, temp_ / "runs");
  }

  ToolRun siteCommand(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"--site", site().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runTool(toolPaths().publish, arguments, temp_ / "runs");
  }

  testing_support::TempDir temp_;
};

struct CopyMode {
  std::vector<std::string> options;
  const char* counts;        // the part of the report line that names them
  std::uintmax_t fileLinks;  // hard-link count of a published file
};

TEST_F(PublishProgram, WritesTheTreeAndItsManifestAndSwitchesCurrent) {
  writeSampleSource("one");
  const std::vector<CopyMode> modes = {
      {{}, "(windows: 2 files hard-linked, 0 copied, 1 links)", 2},
      {{"--copy"}, "(windows: 0 files hard-linked, 2 copied, 1 links)", 1},
  };
  for (const CopyMode& mode : modes) {
    SCOPED_TRACE(mode.counts);
    const ToolRun run = publish(mode.options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string id = currentId(site());
    EXPECT_EQ(run.out, "kestrun-publish: release " + id + " is current " + mode.counts + "\n");
    const fs::path release = site() / "releases" / id;
    // Bytes, times to the nanosecond and links as in the source; no empty directories.
    EXPECT_EQ(treeContents(release / "windows"), treeContents(source()));
    EXPECT_FALSE(fs::exists(release / "windows/empty dir"));
    EXPECT_EQ(fs::hard_link_count(release / "windows/Vardel.exe"), mode.fileLinks);
    std::string expected;
    std::string error;
    ASSERT_TRUE(release_manifest::buildManifest(source(), expected, error));
    EXPECT_EQ(readFile(release / "windows.json"), expected);
    EXPECT_EQ(releaseDefect(release, "windows"), "");
  }
  EXPECT_EQ(releaseIds(site()).size(), 2u);
  EXPECT_EQ(fs::read_symlink(site() / "current").string(), "releases/" + currentId(site()));
}

TEST_F(PublishProgram, APublishOfOnePlatformKeepsTheOthers) {
  writeSampleSource("windows");
  ASSERT_EQ(publish().exitCode, 0);
  const std::string windowsId = currentId(site());
  writeFile(site() / "releases" / windowsId / "windows.json.sig", "signature");
  fs::remove_all(source());
  writeFile(source() / "linux-only.txt", "linux");
  ASSERT_EQ(publish({}, "linux").exitCode, 0);

  const fs::path before = site() / "releases" / windowsId;
  const fs::path now = site() / "releases" / currentId(site());
  EXPECT_NE(before, now);
  EXPECT_EQ(treeContents(now / "windows"), treeContents(before / "windows"));
  EXPECT_EQ(readFile(now / "windows.json"), readFile(before / "windows.json"));
  EXPECT_EQ(readFile(now / "windows.json.sig"), "signature");
  EXPECT_EQ(releaseDefect(now, "linux"), "");
  EXPECT_EQ(treeContents(now / "linux"), treeContents(source()));
}

TEST_F(PublishProgram, KeepsTheNewestReleasesAndRollsBackToAKeptOne) {
  std::vector<std::string> published;
  for (int i = 0; i < 4; ++i) {
    // Rewritten in place: only copies keep the older releases as they were.
    writeFile(source() / "Vardel.exe", "program " + std::to_string(i));
    const ToolRun run = publish({"--keep", "2", "--copy"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    published.push_back(currentId(site()));
  }
  EXPECT_EQ(releaseIds(site()), (std::vector<std::string>{published[2], published[3]}));
  EXPECT_EQ(siteCommand({"--list"}).out, "  " + published[2] + "\n* " + published[3] + "\n");

  const ToolRun rollback = siteCommand({"--rollback", published[2]});
  ASSERT_EQ(rollback.exitCode, 0) << rollback.err;
  EXPECT_EQ(rollback.out, "kestrun-publish: release " + published[2] + " is current\n");
  EXPECT_EQ(currentId(site()), published[2]);
  EXPECT_EQ(readFile(site() / "current/windows/Vardel.exe"), "program 2");

  // The current release is never pruned, however old.
  writeFile(source() / "Vardel.exe", "program 4");
  const ToolRun next = publish({"--keep", "1", "--copy"});
  ASSERT_EQ(next.exitCode, 0) << next.err;
  EXPECT_NE(next.out.find("kestrun-publish: removed release " + published[2] + "\n"),
            std::string::npos);
  EXPECT_EQ(releaseIds(site()), (std::vector<std::string>{currentId(site())}));

  for (const std::string& id : {published[0], std::string("../releases/x"), std::string(".partial-1")}) {
    const ToolRun refused = siteCommand({"--rollback", id});
    EXPECT_EQ(refused.exitCode, 1) << id;
    EXPECT_EQ(refused.err, "kestrun-publish: no release " + id + " in " +
                               (site() / "releases").string() + "\n");
  }
}

TEST_F(PublishProgram, RollsOutACandidateBesideTheCurrentReleaseAndMakesItCurrentAt100) {
  writeFile(source() / "Vardel.exe", "program 1");
  ASSERT_EQ(publish({"--copy"}).exitCode, 0);
  const std::string first = currentId(site());
  ASSERT_EQ(siteCommand({"--rollout", "5"}).err, "kestrun-publish: release " + currentId(site()) +
                                                    " offers no candidate; roll one out with --source DIR "
                                                    "--platform NAME --rollout PERCENT\n");
  writeFile(source() / "Vardel.exe", "program 2");
  setNanoTime(source() / "Vardel.exe", 1700000000000000000LL);  // listed unlike program 1 of the same second
  ASSERT_EQ(publish({"--copy", "--rollout", "0.5", "--auto-rollback", "--probation-starts", "4"}).exitCode, 0);
  const std::string candidate = currentId(site());
  // Asked for the current release and for the candidate, which keeps it when made current.
  for (const auto& [manifest, release] : {std::pair{"windows.json", first}, {"windows-candidate.json", candidate}}) {
    EXPECT_NE(readFile(site() / "current" / manifest).find(R"({"auto_rollback":{"release":")" + release +
                                                           R"(","probation_starts":4}})"), std::string::npos);
  }
  EXPECT_EQ(readFile(site() / "current/windows/Vardel.exe"), "program 1");
  EXPECT_EQ(readFile(site() / "current/windows-candidate/Vardel.exe"), "program 2");
  EXPECT_EQ(siteCommand({"--list"}).out.substr(siteCommand({"--list"}).out.find("candidate")),
            "candidate of windows: " + candidate + " for 0.5 % of installations\n");
  const ToolRun all = siteCommand({"--rollout", "100"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.out.substr(0, all.out.find('\n')), "kestrun-publish: release " + currentId(site()) +
                                                       " is current (windows: the candidate is the current release)");
  EXPECT_EQ(readFile(site() / "current/windows/Vardel.exe"), "program 2");
  EXPECT_EQ(readFile(site() / "current/windows.json"), readFile(site() / "releases" / candidate / "windows-candidate.json"));
  EXPECT_FALSE(fs::exists(site() / "current/windows-candidate"));
  // Health reports name the release that first served the current files (the candidate made
  // current), not a later publish of another platform; 100 with a source is a plain publish.
  ASSERT_EQ(publish({"--copy"}, "linux").exitCode, 0);
  writeFile(source() / "Vardel.exe", "program 3");
  ASSERT_EQ(publish({"--copy", "--rollout", "0.5", "--health-reports"}).exitCode, 0);
  EXPECT_NE(readFile(site() / "current/windows.json").find("{\"health\":{\"release\":\"" + candidate + "\"}}"), std::string::npos);
  ASSERT_EQ(publish({"--copy", "--rollout", "100", "--auto-rollback", "--watch-seconds", "10"}).exitCode, 0);
  EXPECT_EQ(readFile(site() / "current/windows/Vardel.exe"), "program 3");
  const std::string plain = readFile(site() / "current/windows.json");
  EXPECT_EQ(plain.substr(plain.rfind(",{")),
            R"(,{"auto_rollback":{"release":")" + currentId(site()) + R"(","window_seconds":10}}])");
  EXPECT_FALSE(fs::exists(site() / "current/windows-candidate"));
}

TEST_F(PublishProgram, CountsTheHealthReportsOfAnAccessLogPerRelease) {
  // Reports count only for releases the site keeps; made-up ids are passed over.
  writeSampleSource("1");
  ASSERT_EQ(publish({"--copy"}).exitCode, 0);
  const std::string r1 = currentId(site());
  writeFile(source() / "Vardel.exe", "program 2");
  ASSERT_EQ(publish({"--copy"}).exitCode, 0);
  const std::string r2 = currentId(site());
  const std::string report = R"( "GET /gis/update/health?platform=windows&release=)";
  writeFile(temp_ / "access.log",
            "10.0.0.1 - - [07/Dec/2026:10:00:00 +0000]" + report + r1 + "&result=up_to_date HTTP/1.1\" 204 0 \"-\" \"Kestrun/1.0\"\n"
            "10.0.0.2 - - [07/Dec/2026:10:00:01 +0000] \"GET /gis/update/list?platform=windows HTTP/1.1\" 200 9 \"-\" \"-\"\n"
            "10.0.0.3 - - [08/Dec/2026:09:00:00 +0000]" + report + r2 + "&result=updated&early_exit=1&exit_code=3 HTTP/1.1\" 204 0 \"-\" \"-\"\n"
            "10.0.0.4 - - [08/Dec/2026:09:00:02 +0000]" + report + r2 + "&result=failed&step=download HTTP/1.1\" 204 0 \"-\" \"-\"\n"
            "10.0.0.8 - - [08/Dec/2026:09:00:06 +0000]" + report + r2 + "&result=rolled_back&exit_code=3 HTTP/1.1\" 204 0 \"-\" \"-\"\n"
            "10.0.0.7 - - [08/Dec/2026:09:00:05 +0000]" + report + "20261208-000000-999&result=failed HTTP/1.1\" 204 0 \"-\" \"-\"\n"
            "10.0.0.5 - - [08/Dec/2026:09:00:03 +0000]" + report + "<b>&result=updated HTTP/1.1\" 204 0 \"-\" \"-\"\n"
            "10.0.0.6 - - [08/Dec/2026:09:00:04 +0000]" + report + r1 + "&result=up_to_date&pad=" + std::string(100000, '(') + " HTTP/1.1\" 204 0 \"-\" \"-\"\n");
  const ToolRun run = siteCommand({"--health", (temp_ / "access.log").string(), "--json", "--html", (temp_ / "h.html").string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::parse(R"({"releases": [
      {"release": ")" + r1 + R"(", "checks": 2, "up_to_date": 2, "updated": 0, "failed": 0, "early_exits": 0, "rolled_back": 0},
      {"release": ")" + r2 + R"(", "checks": 2, "up_to_date": 0, "updated": 1, "failed": 1, "early_exits": 1, "rolled_back": 1}]})"));
  const std::string page = readFile(temp_ / "h.html");
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("<polyline"), std::string::npos);
}

TEST_F(PublishProgram, OffersCompressedCopiesAndPatchesThatRebuildTheFiles) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * 7919 % 100003) + " of the data\n";
  writeFile(source() / "data.txt", text);
  writeFile(source() / "tiny.txt", "too small to be worth a request");
  // Copies: the source is rewritten in place below.
  ASSERT_EQ(publish({"--copy"}).exitCode, 0);
  const std::string previous = text;
  text.replace(1000, 5, "fresh");
  text.replace(40000, 3, "new");
  writeFile(source() / "data.txt", text);
  const ToolRun run = publish({"--copy"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("kestrun-publish: objects: 1 compressed copies, 1 patches (2 made, the others kept)\n"),
            std::string::npos) << run.out;

  const nlohmann::json manifest = nlohmann::json::parse(readFile(site() / "current/windows.json"));
  const nlohmann::json& data = manifest.at(0);
  const auto object = [&](const nlohmann::json& item) {
    const std::string bytes = readFile(site() / "current/windows.objects" / (item.at("sha256").get<std::string>() + ".zst"));
    EXPECT_EQ(bytes.size(), item.at("size").get<std::size_t>());
    return bytes;
  };
  EXPECT_EQ(testing_support::zstdDecoded(object(data.at("zst")), nullptr), text);
  ASSERT_EQ(data.at("patches").size(), 1u);
  EXPECT_EQ(testing_support::zstdDecoded(object(data.at("patches").at(0)), &previous), text);
  EXPECT_LT(data.at("patches").at(0).at("size").get<int>(), 200);
  EXPECT_EQ(manifest.at(1).dump(), R"({"mtime":)" + std::to_string(manifest.at(1).at("mtime").get<long long>()) +
                                       R"(,"path":"tiny.txt","size":31})");

  // A kept object damaged in place is hashed before it is reused, and made again.
  const std::string copyName = data.at("zst").at("sha256").get<std::string>() + ".zst";
  std::string damaged = object(data.at("zst"));
  damaged[damaged.size() / 2] ^= 1;
  writeFile(site() / "current/windows.objects" / copyName, damaged);
  const ToolRun again = publish({"--copy"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.err.find(copyName + " does not hash to its name; made again\n"), std::string::npos) << again.err;
  EXPECT_NE(again.out.find("(1 made, the others kept)"), std::string::npos) << again.out;
  EXPECT_EQ(testing_support::zstdDecoded(object(data.at("zst")), nullptr), text);

  // Without objects the manifest is what it always was, and nothing lies beside the tree.
  ASSERT_EQ(publish({"--no-objects"}).exitCode, 0);
  std::string expected;
  std::string error;
  ASSERT_TRUE(release_manifest::buildManifest(source(), expected, error));
  EXPECT_EQ(readFile(site() / "current/windows.json"), expected);
  EXPECT_FALSE(fs::exists(site() / "current/windows.objects"));
}

TEST_F(PublishProgram, PatchesAFileAbove32MiBByTheChangeNotTheFile) {
  std::string text;
  for (int i = 0; text.size() < (std::size_t{33} << 20); ++i) text += "record " + std::to_string(static_cast<long long>(i) * 7919 % 1000003) + "\n";
  writeFile(source() / "maps/large.pak", text);
  ASSERT_EQ(publish({"--copy"}).exitCode, 0);
  const std::string previous = text;
  text.insert(text.size() / 2, "a line inserted in the middle\n");
  text.replace(1000, 6, "edited");
  writeFile(source() / "maps/large.pak", text);
  const ToolRun run = publish({"--copy"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json patch = nlohmann::json::parse(readFile(site() / "current/windows.json")).at(0).at("patches").at(0);
  const std::string frame = readFile(site() / "current/windows.objects" / (patch.at("sha256").get<std::string>() + ".zst"));
  EXPECT_LT(frame.size(), 4096u);
  EXPECT_EQ(testing_support::zstdDecoded(frame, &previous), text);
}

TEST_F(PublishProgram, RemovesWhatKilledRunsLeftBehind) {
  writeSampleSource("one");
  writeFile(site() / "releases/.partial-1/windows/half", "half");
  writeFile(site() / "releases/.removing-2/windows/rest", "rest");
  fs::create_symlink("releases/.partial-1", site() / ".current-1");
  ASSERT_EQ(publish().exitCode, 0);
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(site() / "releases")) {
    names.push_back(item.path().filename().string());
  }
  EXPECT_EQ(names, (std::vector<std::string>{currentId(site())}));
  EXPECT_FALSE(fs::exists(fs::symlink_status(site() / ".current-1")));
}

TEST_F(PublishProgram, WaitsWhileAnotherPublisherHoldsTheSite) {
  writeSampleSource("one");
  fs::create_directories(site());
  int held = ::open((site() / ".publish.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  Child second({toolPaths().publish.string(), "--source", source().string(), "--site", site().string(),
                "--platform", "windows"},
               temp_ / "second.out", temp_ / "second.err");
  EXPECT_TRUE(waitUntil([&] { return !readFile(temp_ / "second.err").empty(); }, 10000));
  EXPECT_EQ(readFile(temp_ / "second.err"),
            "kestrun-publish: another publish of " + site().string() + " is running; waiting for it to finish\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(second.running());
  EXPECT_EQ(currentId(site()), "");
  ::close(held);
  EXPECT_EQ(second.wait(30000), 0);
  EXPECT_NE(currentId(site()), "");
}

struct RefusedSource {
  const char* name;
  std::function<void(const fs::path& source, const fs::path& outside)> prepare;
  std::string error;  // "{source}" stands for the source directory
};

TEST_F(PublishProgram, RefusesASourceTheLauncherWouldRefuseAndLeavesTheSiteAlone) {
  const std::vector<RefusedSource> cases = {
      {"absolute link",
       [](const fs::path& s, const fs::path&) { fs::create_symlink("/etc/passwd", s / "passwd"); },
       "kestrun-publish: refused: passwd: absolute link target /etc/passwd\n"},
      {"link up and out",
       [](const fs::path& s, const fs::path&) { fs::create_symlink("../../secret", s / "bin/up"); },
       "kestrun-publish: refused: bin/up: link target ../../secret leaves the release\n"},
      {"link out through a link to a directory",
       [](const fs::path& s, const fs::path& o) {
         fs::create_directory_symlink(o, s / "bin/out");
         fs::create_symlink("out/secret", s / "bin/via");
       },
       "kestrun-publish: refused: bin/out: absolute link target {outside}\n"
       "kestrun-publish: refused: bin/via: link target out/secret leaves the release through "
       "another link\n"},
      {"names Windows refuses or takes for others",
       [](const fs::path& s, const fs::path&) {
         for (const char* name : {"notes?.txt", "Kestrun.exe.", "UPDATE~1.LOC", "Ä.dat", "ä.dat"}) writeFile(s / name, "x");
         fs::create_symlink(".", s / "bin/y");
         fs::create_symlink("y/../x", s / "bin/L");
       },
       "kestrun-publish: refused: Kestrun.exe.: a name ending in a dot or blank, which Windows drops\n"
       "kestrun-publish: refused: UPDATE~1.LOC: a Windows short name of a file the launcher never replaces\n"
       "kestrun-publish: refused: notes?.txt: a character Windows refuses in names\n"
       "kestrun-publish: refused: bin/L: link target y/../x passes through another link\n"
       "kestrun-publish: refused: ä.dat: one file on Windows with Ä.dat\n"},
      {"backslash in a name",
       [](const fs::path& s, const fs::path&) { writeFile(s / "..\\evil.dll", "x"); },
       "kestrun-publish: refused: ..\\evil.dll: backslash in the name\n"},
      {"name not UTF-8",
       [](const fs::path& s, const fs::path&) { writeFile(s / "bad\xff.dll", "x"); },
       "kestrun-publish: refused: bad\xff.dll: not UTF-8\n"},
      {"nothing to publish",
       [](const fs::path& s, const fs::path&) { fs::remove_all(s / "bin"); fs::create_directories(s / "only dirs"); },
       "kestrun-publish: nothing to publish in {source}\n"},
      {"site inside the source",
       [](const fs::path&, const fs::path&) {},
       "kestrun-publish: the source and the site must not contain each other\n"},
  };
  writeSampleSource("good");
  ASSERT_EQ(publish().exitCode, 0);
  const std::string goodId = currentId(site());
  for (const RefusedSource& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir caseDir;
    const fs::path bad = caseDir / "source";
    const fs::path outside = caseDir / "outside";
    writeFile(bad / "bin/ok.dll", "fine");
    writeFile(outside / "secret", "secret");
    c.prepare(bad, outside);
    const bool siteInside = std::string(c.name) == "site inside the source";
    const ToolRun run = runTool(
        toolPaths().publish,
        {"--source", bad.string(), "--site", siteInside ? (bad / "site").string() : site().string(),
         "--platform", "windows"},
        temp_ / "runs");
    std::string expected = c.error;
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{source}", bad.string()},
                                      {"{outside}", outside.string()}}) {
      if (const auto at = expected.find(mark); at != std::string::npos) expected.replace(at, mark.size(), value);
    }
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(currentId(site()), goodId);
    EXPECT_EQ(releaseIds(site()), std::vector<std::string>{goodId});
  }
}

struct UsageError {
  std::vector<std::string> arguments;
  std::string firstLine;
};

TEST_F(PublishProgram, RefusesCommandLinesItCannotFollow) {
  const std::string s = "/nonexistent/site";
  const std::vector<UsageError> cases = {
      {{}, "kestrun-publish: --site is required"},
      {{"--site", s}, "kestrun-publish: --source and --platform are required"},
      {{"--site", s, "--source", "x", "--platform", "Windows"}, "kestrun-publish: bad platform name: Windows"},
      {{"--site", s, "--source", "x", "--platform", "../w"}, "kestrun-publish: bad platform name: ../w"},
      {{"--site", s, "--source", "x", "--platform", "w", "--keep", "0"},
       "kestrun-publish: --keep needs a number from 1 to 9999: 0"},
      {{"--site", s, "--source", "x", "--platform", "w", "--keep", "-1"},
       "kestrun-publish: --keep needs a number from 1 to 9999: -1"},
      {{"--site", s, "--rollback", "x", "--platform", "w"},
       "kestrun-publish: --rollback takes only --site and --sign-key"},
      {{"--site", s, "--list", "--copy"}, "kestrun-publish: --list takes only --site"},
      {{"--site", s, "--verbose"}, "kestrun-publish: unknown option: --verbose"},
      {{"--site"}, "kestrun-publish: --site needs a value"},
      {{"--site", s, "--source", "x", "--platform", "w", "--expires", "7"},
       "kestrun-publish: --expires and --serial-floor need --sign-key"},
      {{"--site", s, "--resign", "--sign-key", "k", "--expires", "0"},
       "kestrun-publish: --expires needs a number of days from 1 to 3650: 0"},
      {{"--site", s, "--resign", "--sign-key", "k", "--expires", "3651"},
       "kestrun-publish: --expires needs a number of days from 1 to 3650: 3651"},
      {{"--site", s, "--resign", "--sign-key", "k", "--expires", "7d"},
       "kestrun-publish: --expires needs a number of days from 1 to 3650: 7d"},
      {{"--site", s, "--resign", "--sign-key", "k", "--serial-floor", "-5"},
       "kestrun-publish: --serial-floor needs a serial from 1 to 9223372036854775807: -5"},
      {{"--site", s, "--resign"}, "kestrun-publish: --resign needs --sign-key"},
      {{"--site", s, "--resign", "--sign-key", "k", "--platform", "w"},
       "kestrun-publish: --resign takes only --site, --sign-key, --rollback-to, --expires, --serial-floor and --keep"},
      {{"--site", s, "--list", "--resign"}, "kestrun-publish: --list takes only --site"},
      {{"--site", s, "--source", "x", "--platform", "w", "--rollback-to", "1"},
       "kestrun-publish: --rollback-to is an option of --resign"},
      {{"--site", s, "--resign", "--sign-key", "k", "--rollback-to", ".partial-1"},
       "kestrun-publish: bad release id: .partial-1"},
      {{"--site", s, "--rollout", "100.5"},
       "kestrun-publish: --rollout needs a share from 0 to 100 (decimals allowed), and no --resign: 100.5"},
      {{"--site", s, "--rollout", "0,5"},
       "kestrun-publish: --rollout needs a share from 0 to 100 (decimals allowed), and no --resign: 0,5"},
      {{"--site", s, "--rollout", "5", "--platform", "w"},
       "kestrun-publish: --rollout without --source takes only --site, --sign-key, --expires, --serial-floor and --keep"},
      {{"--site", s, "--rollout", "25", "--sign-key", "k"}, "kestrun-publish: --rollout 25 with --sign-key needs --expires DAYS"},
      {{"--site", s, "--rollout", "25", "--auto-rollback"}, "kestrun-publish: --auto-rollback is an option of a publish"},
      {{"--site", s, "--source", "x", "--platform", "w", "--failed-starts", "1"},
       "kestrun-publish: --watch-seconds, --probation-starts and --failed-starts need --auto-rollback"},
      {{"--site", s, "--source", "x", "--platform", "w", "--auto-rollback", "--watch-seconds", "61"},
       "kestrun-publish: --watch-seconds needs a number of seconds from 1 to 60: 61"},
      {{"--site", s, "--source", "x", "--platform", "w", "--auto-rollback", "--probation-starts", "1"},
       "kestrun-publish: --failed-starts (2 unless given) must not exceed --probation-starts (3 unless given): 2 > 1"},
      {{"--site", s, "--steer", "log"},
       "kestrun-publish: --steer needs --plan: shares above 0, ascending, ending at 100 (1,5,25,100)"},
      {{"--site", s, "--steer", "log", "--plan", "1,5,25"},
       "kestrun-publish: --steer needs --plan: shares above 0, ascending, ending at 100 (1,5,25,100): 1,5,25"},
      {{"--site", s, "--steer", "log", "--plan", "1,100", "--rollout", "5"},
       "kestrun-publish: --steer takes only --site, --plan, --min-updates, --step-seconds, --sign-key, --expires, "
       "--serial-floor, --keep and --json"},
      {{"--site", s, "--steer", "log", "--plan", "1,100", "--min-updates", "0"},
       "kestrun-publish: --min-updates needs a number from 1 to 1000000: 0"},
      {{"--site", s, "--steer", "log", "--plan", "1,100", "--sign-key", "k"},
       "kestrun-publish: --steer with --sign-key needs --expires DAYS"},
      {{"--site", s, "--rollout", "5", "--plan", "1,100"},
       "kestrun-publish: --plan, --min-updates and --step-seconds are options of --steer"},
  };
  for (const UsageError& c : cases) {
    SCOPED_TRACE(c.firstLine);
    const ToolRun run = runTool(toolPaths().publish, c.arguments, temp_ / "runs");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.firstLine);
    EXPECT_NE(run.err.find("usage: kestrun-publish"), std::string::npos);
  }
}

}  // namespace
}  // namespace release_tools_test
