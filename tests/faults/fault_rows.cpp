#include "tests/faults/fault_rows.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <tuple>

#include "tests/faults/fault_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/zstd_frame.h"
#include "tools/release_manifest/release_manifest.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "tools/release_server/release_routes.h"
#include "trust/sha256_hex.h"
#include "ui/ui_text.h"

namespace faults {

using e2e::Expected;
using e2e::Installation;

namespace {

constexpr std::int64_t kOldTime = 1700000000;
constexpr std::int64_t kNewTime = 1700100000;
constexpr std::uint64_t kHugeSize = std::uint64_t{1} << 60;  // more than any disk holds

// The files that differ between the two releases; Vardel.exe and readme.txt do not. The
// manifest lists them in this order, so data/big.bin is the first one fetched.
struct ChangingFile {
  std::string path;
  std::string oldBytes;
  std::string newBytes;
};
const std::vector<ChangingFile>& changingFiles() {
  static const std::vector<ChangingFile> files = {
      {"data/big.bin", generatedBytes(48 * 1024, 1), generatedBytes(40 * 1024, 2)},  // above the disk limit
      {"data/config.txt", "colour=blue\n", "colour=teal, brighter\n"},
      {"docs/manual.txt", "manual, first edition\n", "manual, second edition with more\n"},
  };
  return files;
}

void publish(e2e::Release& release, bool newer) {
  release.addProgram("Vardel.exe", e2e::buildSetup().mainProgram, e2e::kVardelTime);
  release.addFile("readme.txt", "Fennick sample release\n", e2e::kReadmeTime);
  for (const ChangingFile& file : changingFiles()) {
    release.addFile(file.path, newer ? file.newBytes : file.oldBytes, newer ? kNewTime : kOldTime);
  }
}

// A manifest of `entries` entries: the new release's changed files, then up-to-date entries of
// paths of their own (a path listed twice is refused): a thousand to a folder, a copy of the
// installed readme.txt and hard links of it (a file takes at most 65,000 links).
void writeLongManifest(const fs::path& file, const fs::path& installDir, int entries) {
  std::ofstream out(file, std::ios::binary);
  out << "[";
  for (const ChangingFile& changing : changingFiles()) {
    out << R"({"path":")" << changing.path << R"(","size":)" << changing.newBytes.size() << R"(,"mtime":)"
        << kNewTime << "},\n";
  }
  const std::string rest = R"(.txt","size":23,"mtime":)" + std::to_string(e2e::kReadmeTime) + "}";
  const fs::path readme = installDir / "readme.txt";
  fs::path folderCopy;
  for (int i = static_cast<int>(changingFiles().size()); i < entries; ++i) {
    const std::string path = "bulk/" + std::to_string(i / 1000) + "/" + std::to_string(i % 1000);
    const fs::path local = installDir / (path + ".txt");
    if (folderCopy.empty() || folderCopy.parent_path() != local.parent_path()) {
      fs::create_directories(local.parent_path());
      fs::copy_file(readme, local);
      fs::last_write_time(local, fs::last_write_time(readme));
      folderCopy = local;
    } else {
      fs::create_hard_link(folderCopy, local);
    }
    out << R"({"path":")" << path << rest << (i + 1 < entries ? ",\n" : "]");
  }
}

// A path below the installation as the launcher's log joins it.
std::string logPath(std::string path) {
  if (e2e::buildSetup().windowsLauncher) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

Expected downloadFailed(const std::string& reason, const std::string& path = "data/big.bin") {
  return {"ERROR", "更新下载失败：下载文件失败：" + path + "（" + reason + "）"};
}
Expected retry(int n, const std::string& reason, const std::string& path = "data/big.bin") {
  return {"WARN", "下载文件失败，将进行第 " + std::to_string(n) + "/3 次重试：" + path + "（" + reason + "）"};
}

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
  for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), value);
  }
}

std::string expectedBytes(const FaultRow& row, const ChangingFile& file) {
  const bool updated = row.end == End::New || (row.end == End::NewButManual && file.path != "docs/manual.txt");
  return updated ? file.newBytes : row.firstInstallation ? std::string() : file.oldBytes;
}

// The new release's manifest, every file with its sha256, data/big.bin also with a patch
// from the installed (old) file and a compressed copy, spoiled as the row says; the objects
// go beside the release, where the server looks for them.
std::string manifestWithObjects(Objects objects, const e2e::Release& release) {
  release_manifest::ReleaseListing listing;
  std::string error;
  release_manifest::listReleaseTree(release.platformDir(), listing, error);
  const ChangingFile& big = changingFiles().front();
  const fs::path dir = release.root() / "windows.objects";
  const auto object = [&](std::string frame, const std::string& from, bool corrupt, bool stored) {
    if (corrupt) frame[frame.size() / 2] = static_cast<char>(frame[frame.size() / 2] ^ 0x5a);
    release_manifest::ReleaseObject made{frame.size(), sha256Hex(frame), from};
    if (stored) testing_support::writeFile(dir / (made.sha256 + ".zst"), frame);
    return made;
  };
  for (release_manifest::ReleaseEntry& entry : listing.entries) {
    const std::string bytes = testing_support::readFile(release.platformDir() / entry.path);
    entry.sha256 = sha256Hex(bytes);
    const bool changing = entry.path.rfind("data/", 0) == 0 || entry.path.rfind("docs/", 0) == 0;
    if (objects == Objects::EveryFile && changing && entry.path != big.path) {
      entry.zst.push_back(object(testing_support::zstdFrame(bytes, nullptr), "", false, true));
    }
    if (entry.path != big.path) continue;
    if (objects == Objects::WideWindow || objects == Objects::SizelessCopy) {
      const int windowLog = objects == Objects::WideWindow ? 24 : 20;
      entry.zst.push_back(object(testing_support::zstdWideFrame(bytes, windowLog), "", false, true));
      continue;
    }
    if (objects == Objects::HugeCopy) {
      entry.size = kHugeSize;
      entry.zst.push_back(object(testing_support::zstdFrame(bytes, nullptr), "", false, true));
      continue;
    }
    if (objects == Objects::DigestsOnly) continue;
    std::string target = big.newBytes;
    if (objects == Objects::PatchToWrongBytes) target[7] = static_cast<char>(target[7] ^ 1);
    const bool anotherFile = objects == Objects::PatchForAnotherFile || objects == Objects::CorruptCopy;
    entry.patches.push_back(object(testing_support::zstdFrame(target, &big.oldBytes),
                                   sha256Hex(anotherFile ? "another file" : big.oldBytes),
                                   objects == Objects::CorruptPatch, objects != Objects::MissingPatch));
    entry.zst.push_back(object(testing_support::zstdFrame(big.newBytes, nullptr), "", objects == Objects::CorruptCopy, true));
  }
  return release_manifest::manifestJson(listing.entries);
}

// A line of the record of installed digests for data/big.bin holding `bytes` at `mtime`.
std::string digestLine(const std::string& bytes, std::int64_t mtime) {
  return sha256Hex(bytes) + "\t" + std::to_string(bytes.size()) + "\t" +
         std::to_string(platform::unixSecondsToFileTime(mtime)) + "\tdata/big.bin\n";
}

void prepareDigestRecord(DigestRecord record, const fs::path& installDir) {
  const fs::path file = installDir / "update_digests.txt";
  const ChangingFile& big = changingFiles().front();
  switch (record) {
    case DigestRecord::None:
      return;
    case DigestRecord::Stale:
      // Other bytes of the same size, at the same time: the record still looks right.
      testing_support::writeFile(installDir / big.path, generatedBytes(big.oldBytes.size(), 9));
      e2e::setFileTime(installDir / big.path, kOldTime);
      testing_support::writeFile(file, digestLine(big.oldBytes, kOldTime));
      return;
    case DigestRecord::Damaged:
      testing_support::writeFile(file, "not a record\n" + std::string(64, 'z') + "\t1\t2\tdata/big.bin\n");
      return;
    case DigestRecord::Linked: {
      const std::string wrong = sha256Hex("another file") + digestLine(big.oldBytes, kOldTime).substr(64);
      testing_support::writeFile(installDir / "elsewhere.txt", wrong);
      fs::create_symlink("elsewhere.txt", file);
      return;
    }
  }
}

}  // namespace

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

std::vector<FaultRow> faultRows() {
  const Expected allApplied{"INFO", "applyStaging 返回：成功落地=3"};
  const Expected tooLarge{"WARN", "更新检查失败：无法获取更新清单：更新清单超过 64 MiB"};
  const std::string incomplete = uiText(false, UiText::ApplicationIncomplete);
  const std::string unreachable = uiText(false, UiText::ServerUnreachable);
  // The limit on the launcher's memory while an oversized manifest comes in: the bounded body
  // and its last doubling, with room for the sanitizers' own bookkeeping.
  constexpr double kManifestMemoryMiB = 384;
  const std::string messageBox =
      "a failed first installation ends in a message box, under Wine a real window that waits for a click";

  std::vector<FaultRow> rows;
  for (const int status : {404, 500, 503}) {
    const std::string code = std::to_string(status);
    const std::string http = "HTTP " + code;
    rows.push_back({"", "file-status " + code + " data/big.bin", Local::None, false, End::Old,
                    {retry(3, http), downloadFailed(http)}, ""});
    rows.push_back({"", "file-flap " + code + " 2 data/big.bin", Local::None, false, End::New,
                    {retry(2, http), allApplied}, ""});
  }
  static const char* const names[] = {"Status404", "Flapping404", "Status500", "Flapping500", "Status503", "Flapping503"};
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].name = names[i];

  const std::string shortBody = "文件大小不符：清单=" + std::to_string(40 * 1024) + "，实际=1000";
  const std::vector<FaultRow> more = {
      {"Status404OnFirstInstallation", "file-status 404 data/big.bin", Local::None, true, End::Old,
       {downloadFailed("HTTP 404")}, incomplete, false, 0, 0, "", messageBox},
      {"CutMidBody", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {downloadFailed("Transferred a partial file")}, "", false, 0, 0, "file-cut 1000 data/big.bin"},
      {"ShortBodyWithoutLength", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {retry(1, shortBody), retry(3, shortBody), downloadFailed(shortBody)}, "", false, 0, 0,
       "file-short 1000 data/big.bin"},
      {"Stall", "file-stall 60 data/big.bin", Local::None, false, End::Old,
       {retry(1, "Timeout was reached"), downloadFailed("Timeout was reached")}, "", true},
      {"Throttled", "file-throttle 10000 data/big.bin", Local::None, false, End::New, {allApplied}, ""},
      // The server closes a connection after five requests, and the loop makes thirty.
      {"RedirectLoop", "file-redirect {OTHER} data/big.bin", Local::None, false, End::Old,
       {downloadFailed("Number of redirects hit maximum amount")}, "", false, 0, 0, "file-redirect-loop data/big.bin"},
      {"RedirectToAnotherPort", "file-redirect {OTHER} data/big.bin", Local::None, false, End::New, {allApplied}, ""},
      {"EndlessManifest", "list-endless", Local::None, false, End::Old, {tooLarge}, "", false, 0, kManifestMemoryMiB},
      {"EndlessManifestOnFirstInstallation", "list-endless", Local::None, true, End::Old, {tooLarge}, unreachable,
       false, 0, kManifestMemoryMiB, "", messageBox},
      {"HugeManifest", "list-padded 100000000", Local::None, false, End::Old, {tooLarge}, "", false, 0,
       kManifestMemoryMiB},
      {"MillionEntryManifest", "list-body {MANIFEST}", Local::None, false, End::New,
       {{"INFO", "更新检查完成：待更新文件=3"}, allApplied}, "", false, 1000000, 1e9, "",
       "takes most of a minute natively and several under Wine; the check it times is the same code in both"},
      {"DiskFull", "", Local::DiskFull, false, End::Old,
       {downloadFailed("Failed writing received data to disk/application")}, "", false, 0, 0, "",
       "the full disk is a Linux file size limit (RLIMIT_FSIZE), which Windows has no counterpart of"},
      // Wine keeps no access control lists, so only the Unix mode could make the directory
      // read-only; but Wine's server creates and renames files for every Windows program, and
      // as root it is not bound by the mode.
      {"ReadOnlyInstallation", "", Local::ReadOnlyInstallation, false, End::Old,
       {{"ERROR", "更新下载失败：无法创建更新暂存目录：{*}" + logPath("/update_staging")}}, "", false, 0, 0, "",
       "Wine has no access control lists, and its server, which creates every file, runs as root here"},
      {"StagingIsAPlainFile", "", Local::StagingIsAFile, false, End::New, {allApplied}, ""},
      // Natively docs/ is read-only; on Windows another program holds the file open without
      // delete sharing.
      {"TargetCannotBeReplaced", "", Local::TargetCannotBeReplaced, false, End::NewButManual,
       {{"ERROR", "更新文件落地失败：" + logPath("docs/manual.txt") + "；原因：{*}"},
        {"INFO", "applyStaging 返回：成功落地=2"}},
       ""},
  };
  rows.insert(rows.end(), more.begin(), more.end());

  // The lock fails closed: the program starts as it is, nothing is updated.
  const Expected skipped{"INFO", "未取得安装目录锁，跳过更新检查，现有 Vardel 继续运行"};
  rows.push_back({"LockIsAFolder", "", Local::LockIsAFolder, false, End::Old,
                  {{"WARN", "无法锁定安装目录，本次不更新：{*}update.lock；原因：{*}"}, skipped}, ""});
  rows.push_back({"LockHeldByAnotherProcess", "", Local::LockHeld, false, End::Old,
                  {{"INFO", "另一个 Kestrun 正在运行，等待其结束后继续"},
                   {"WARN", "等待另一个 Kestrun 结束超时（3 秒），本次不更新"}, skipped},
                  "", true, 0, 0, "", "the test holds the lock with flock, which Wine's LockFileEx does not see"});
  rows.push_back({"LockFileOpenForReading", "", Local::LockFileRead, false, End::New, {allApplied}, ""});
  const std::string unixModes = "a FIFO and the Unix mode of a file are Linux faults; Wine keeps no access control lists";
  for (const auto& [name, fault] : {std::pair{"LockIsAReadOnlyFifo", Local::LockIsAReadOnlyFifo},
                                    std::pair{"LockFileOnlyReadable", Local::LockFileReadOnly}}) {
    rows.push_back({name, "", fault, false, End::Old,
                    {{"WARN", "无法锁定安装目录，本次不更新：{*}update.lock；原因：{*}"}, skipped}, "", false, 0, 0, "",
                    unixModes});
  }
  rows.push_back({"WaitRunsOutWhileAnotherRunUpdates", "", Local::UpdateInProgress, false, End::OldNotStarted,
                  {{"WARN", "等待另一个 Kestrun 结束超时（3 秒），本次不更新"},
                   {"INFO", "另一个 Kestrun 正在更新 Vardel，更新完成后由其启动，本次不启动"}},
                  "", true, 0, 0, "", "the test holds the locks with flock, which Wine's LockFileEx does not see"});

  // Manifests that could never be applied: found by the check, so the running program is
  // neither stopped nor started again.
  const auto neverApplied = [](const char* name, std::string body, const std::string& why) {
    return FaultRow{name, "list-body {BODY}", Local::None, false, End::Old, {{"WARN", "更新检查失败：" + why}},
                    "", false, 0, 0, "", "", std::move(body), 1};
  };
  rows.push_back(neverApplied("ReservedName", R"([{"path":"aux.js","size":3}])", "更新清单路径不安全：aux.js"));
  rows.push_back(neverApplied("CaseCollision",
                              R"([{"path":"data/Config.txt","size":3},{"path":"data/config.txt","size":3}])",
                              "更新清单路径仅大小写不同：data/Config.txt，data/config.txt"));
  // Names Windows refuses or lands elsewhere (on the running launcher itself): every start alike.
  for (const auto& [name, path, why] : std::vector<std::array<const char*, 3>>{
           {"RefusedCharacter", "notes?.txt", "更新清单路径不安全：notes?.txt"},
           {"TrailingDotOfTheLauncher", "Kestrun.exe.", "更新清单路径以点或空格结尾：Kestrun.exe."},
           {"ShortNameOfTheLock", "UPDATE~1.LOC", "更新清单路径可能是受保护文件的短文件名：UPDATE~1.LOC"}}) {
    rows.push_back(neverApplied(name, R"([{"path":")" + std::string(path) + R"(","size":3}])", why));
    rows.back().runs = 2;
  }
  rows.push_back(neverApplied("RepeatedPathEightAtOnce",
                              R"([{"path":"data/config.txt","size":3},{"path":"data/config.txt","size":4}])",
                              "更新清单路径重复：data/config.txt"));
  rows.back().eightAtOnce = true;
  rows.push_back(neverApplied("LinkLeavingTheInstallation", R"([{"path":"data/up","link":"../../x"}])",
                              "更新清单软链接指向安装目录之外：data/up -> ../../x"));
  // The server sends more than the manifest announces: cut there, nothing is applied.
  const std::string oversized = "文件超出清单大小：清单=1000，已收到={N}";
  rows.push_back({"BodyLargerThanItsEntry", "list-body {BODY}", Local::None, false, End::Old,
                  {retry(1, oversized), downloadFailed(oversized)}, "", false, 0, 0, "", "",
                  R"([{"path":"data/big.bin","size":1000,"mtime":)" + std::to_string(kNewTime) + "}]"});

  // Compressed copies and patches: a good one is used, a bad one falls back to the whole file.
  const std::string bigSize = " 字节，完整文件 " + std::to_string(40 * 1024) + " 字节）";
  const auto withObjects = [&](const char* name, Objects objects, Expected how, std::string notUnderWine) {
    FaultRow row{name, "list-body {BODY}", Local::None, false, End::New, {std::move(how), allApplied}, ""};
    row.objects = objects;
    row.notUnderWine = std::move(notUnderWine);
    return row;
  };
  const std::string sameCode = "the same code as the Patch and PatchToWrongBytes rows, which run under Wine";
  const auto patchFallback = [](const std::string& why) {
    return Expected{"WARN", "补丁下载失败，改为下载完整文件：data/big.bin（" + why + "）"};
  };
  rows.push_back(withObjects("Patch", Objects::Patch, {"INFO", "以补丁下载：data/big.bin（{*}" + bigSize}, ""));
  rows.push_back(withObjects("PatchForAnotherFile", Objects::PatchForAnotherFile,
                             {"INFO", "以压缩副本下载：data/big.bin（{*}" + bigSize}, sameCode));
  rows.push_back(withObjects("CorruptPatch", Objects::CorruptPatch, patchFallback("{*}"), sameCode));
  rows.push_back(withObjects("CorruptCompressedCopy", Objects::CorruptCopy,
                             {"WARN", "压缩副本下载失败，改为下载完整文件：data/big.bin（{*}）"}, sameCode));
  rows.push_back(withObjects("MissingPatch", Objects::MissingPatch, patchFallback("HTTP 404"), sameCode));
  rows.push_back(withObjects("PatchToWrongBytes", Objects::PatchToWrongBytes, patchFallback("sha256 不一致：{*}"), ""));
  rows.push_back(withObjects("CorruptPatchEightAtOnce", Objects::CorruptPatch, patchFallback("{*}"), sameCode));
  rows.back().eightAtOnce = true;
  // The test launcher's decoder windows hold one object at a time: the others wait their turn,
  // and the lines are those of one at a time.
  rows.push_back(withObjects("ObjectsEightAtOnceTakingTurns", Objects::EveryFile,
                             {"INFO", "以补丁下载：data/big.bin（{*}" + bigSize}, ""));
  rows.back().eightAtOnce = true;
  rows.back().explaining.insert(rows.back().explaining.end() - 1,
                                {{"INFO", "以压缩副本下载：data/config.txt（{*}"},
                                 {"INFO", "以压缩副本下载：docs/manual.txt（{*}"}});
  rows.push_back(withObjects("CopyAskingForAWiderWindow", Objects::WideWindow,
                             {"WARN", "压缩副本下载失败，改为下载完整文件：data/big.bin（解压失败："
                                      "Frame requires too much memory for decoding）"},
                             sameCode));
  // Without its size, zstd would keep all the window that the frame asks for.
  rows.push_back(withObjects("CopyWithoutItsSize", Objects::SizelessCopy,
                             {"WARN", "压缩副本下载失败，改为下载完整文件：data/big.bin（压缩数据声明的大小与清单不符："
                                      "清单=40960，声明=未知）"},
                             sameCode));
  // Refused before any disk space is taken for it; the whole file cannot match either.
  const std::string huge = std::to_string(kHugeSize);
  rows.push_back(withObjects("CopyOfAFileLargerThanTheDisk", Objects::HugeCopy,
                             {"WARN", "压缩副本下载失败，改为下载完整文件：data/big.bin（磁盘空间不足，无法预留 " + huge +
                                          " 字节：{*}）"},
                             ""));
  rows.back().end = End::Old;
  rows.back().explaining.back() = downloadFailed("{*}");
  // The launcher of the stall rows decodes objects as the product decodes a large file's.
  rows.push_back(withObjects("LargePatch", Objects::Patch, {"INFO", "以补丁下载：data/big.bin（{*}" + bigSize}, ""));
  rows.back().shortStall = true;
  rows.push_back(withObjects("LargePatchToWrongBytes", Objects::PatchToWrongBytes, patchFallback("sha256 不一致：{*}"), ""));
  rows.back().shortStall = true;

  // A dropped link goes on from the bytes staged; a file changed on the server in between is
  // fetched whole (no sha256 here: only If-Range keeps the old bytes out); a part with a sha256
  // is kept for the next run.
  const Expected partial = retry(1, "Transferred a partial file");
  const auto resumed = [](int offset) {
    return Expected{"INFO", "断点续传：data/big.bin（自第 " + std::to_string(offset) + " 字节起）"};
  };
  const auto dropped = [](const char* name, std::string otherFaults, std::vector<Expected> explaining) {
    return FaultRow{name, "file-redirect {OTHER} data/big.bin", Local::None, false, End::New, std::move(explaining),
                    "", false, 0, 0, std::move(otherFaults)};
  };
  rows.push_back(dropped("DropMidFileResumes", "file-drop 20000 1 data/big.bin", {partial, resumed(20000), allApplied}));
  rows.push_back(dropped("FileChangedBetweenAttempts", "file-drop 20000 1 data/big.bin\nfile-older 1 {BODY} data/big.bin",
                         {partial, allApplied}));
  rows.back().manifestBody = generatedBytes(40 * 1024, 7);
  // The first run's four attempts each end 8,000 bytes further; the second run's log shows the rest.
  rows.push_back(dropped("DropsResumeInTheNextRun", "file-drop 8000 4 data/big.bin", {resumed(32000), allApplied}));
  rows.back().faults += "\nlist-body {BODY}";
  rows.back().objects = Objects::DigestsOnly;
  rows.back().runs = 2;
  // A killed run writes no record at its end: the part under way was recorded as it came.
  rows.push_back(dropped("KilledRunResumesInTheNextRun", "file-throttle 1000 data/big.bin",
                         {{"INFO", "断点续传：data/big.bin（自第 {*} 字节起）"}, allApplied}));
  rows.back().faults += "\nlist-body {BODY}";
  rows.back().objects = Objects::DigestsOnly;
  rows.back().killedFirst = true;

  // The record of installed digests: a wrong one costs the patch, one that is no record or is
  // reached through a link is not read, and the installed file is hashed instead.
  const Expected byPatch{"INFO", "以补丁下载：data/big.bin（{*}" + bigSize};
  for (const auto& [name, record, how] : std::vector<std::tuple<const char*, DigestRecord, Expected>>{
           {"StaleDigestRecord", DigestRecord::Stale, patchFallback("{*}")},
           {"DamagedDigestRecord", DigestRecord::Damaged, byPatch},
           {"LinkedDigestRecord", DigestRecord::Linked, byPatch}}) {
    rows.push_back(withObjects(name, Objects::Patch, how, ""));
    rows.back().digestRecord = record;
  }
  rows.back().notUnderWine = "Wine follows a Unix link as the file it leads to: Windows sees no link there";

  // Eight files at once: the same lines in the same order as one at a time.
  const auto eightAtOnce = [](const char* name, std::string faults, End end, std::vector<Expected> explaining) {
    FaultRow row{name, std::move(faults), Local::None, false, end, std::move(explaining), ""};
    row.eightAtOnce = true;
    return row;
  };
  rows.push_back(eightAtOnce("EightAtOnce", "", End::New, {allApplied}));
  rows.push_back(eightAtOnce("EightAtOnceFlapping503", "file-flap 503 2 data/big.bin", End::New,
                             {retry(1, "HTTP 503"), retry(2, "HTTP 503"), allApplied}));
  rows.push_back(eightAtOnce("EightAtOnceFailureInTheMiddle",
                             "file-status 404 data/config.txt\nfile-status 500 docs/manual.txt", End::Old,
                             {retry(3, "HTTP 404", "data/config.txt"), downloadFailed("HTTP 404", "data/config.txt")}));
  return rows;
}

void runFaultRow(const FaultRow& row, const RunContext& context, const TestLaunchers& launchers, LocalFaults& local) {
  const fs::path root = context.root;
  publish(context.release, true);
  e2e::Release oldRelease(root / "old-release");
  publish(oldRelease, false);
  Installation installation(root / "install");
  if (row.shortStall || row.eightAtOnce) {
    fs::copy_file(row.eightAtOnce ? launchers.eightAtOnce : launchers.shortStall, installation.launcher(),
                  fs::copy_options::overwrite_existing);
  }
  if (!row.firstInstallation) installation.mirror(oldRelease);
  installation.setMainProgramBehaviour("exit 0");

  // A second server on a port of its own, serving the same release, for the redirects.
  testing_support::LoopbackServer other;
  release_server::installReleaseRoutes(other.server(), {context.release.root(), root / "other-faults.txt"});
  other.start();
  prepareDigestRecord(row.digestRecord, installation.dir());
  std::string otherDirectives = row.otherFaults;
  replaceAll(otherDirectives, "{BODY}", (root / "body.json").string());
  e2e::writeFaults(root / "other-faults.txt", otherDirectives + "\n");
  std::string directives = row.faults;
  replaceAll(directives, "{OTHER}", other.baseUrl());
  replaceAll(directives, "{MANIFEST}", (root / "manifest.json").string());
  replaceAll(directives, "{BODY}", (root / "body.json").string());
  testing_support::writeFile(root / "body.json", row.objects == Objects::None
                                                      ? row.manifestBody
                                                      : manifestWithObjects(row.objects, context.release));
  if (row.manifestEntries > 0) writeLongManifest(root / "manifest.json", installation.dir(), row.manifestEntries);
  e2e::writeFaults(context.faultsFile, directives + "\n");

  e2e::RunOptions options = context.options;
  local.prepare(row.local, installation, options);
  auto server = context.startServer();
  ASSERT_TRUE(server->running());
  const auto outsideBefore = outsideSnapshot(root, installation.dir());

  const std::vector<std::string> args = {"vardel://open?item=7", "--profile"};
  const auto began = std::chrono::steady_clock::now();
  Installation::Started started = installation.start(args, options);
  ASSERT_TRUE(started.process);
  if (row.killedFirst) {
    const auto named = [&] {
      return testing_support::readFile(installation.dir() / "update_resume.txt").find("data/big.bin") != std::string::npos;
    };
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !named() && std::chrono::steady_clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(named());
    std::uint32_t ignored = 0;
    platform::terminateProcess(*started.process, 137, ignored);
    installation.finish(std::move(started), 10000);
    e2e::writeFaults(root / "other-faults.txt", "\n");
    started = installation.start(args, options);
  }
  PeakMemory peak(platform::processId(*started.process));
  e2e::LauncherOutcome outcome = installation.finish(std::move(started), 600000);
  for (int run = 1; run < row.runs && outcome.finished && outcome.exitCode == 0; ++run) {
    outcome = installation.finish(installation.start(args, options), 600000);
  }
  if (row.killedFirst) e2e::writeFaults(root / "other-faults.txt", otherDirectives + "\n");  // as it was
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double peakMiB = peak.stopMiB();
  if (row.peakLimitMiB > 0) {
    std::printf("[ faults   ] %s: %.1f s, launcher peak memory %.0f MiB\n", row.name, seconds, peakMiB);
    EXPECT_LT(peakMiB, row.peakLimitMiB);
  }

  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
  EXPECT_TRUE(holdsInOrder(outcome.log, row.explaining));
  if (!row.message.empty()) {
    EXPECT_NE(outcome.standardError.find(row.message), std::string::npos) << outcome.standardError;
  }

  // Every file is old or new, whole, as the row expects; the unchanged ones stay.
  for (const ChangingFile& file : changingFiles()) {
    SCOPED_TRACE(file.path);
    const fs::path installed = installation.dir() / file.path;
    std::error_code ignored;
    EXPECT_TRUE(testing_support::readFile(installed) == expectedBytes(row, file))
        << fs::file_size(installed, ignored) << " bytes";
  }
  // An update that checked data/big.bin's digest records it for the next one.
  if (row.objects != Objects::None && row.end == End::New) {
    const std::string& newBytes = changingFiles().front().newBytes;
    EXPECT_NE(testing_support::readFile(installation.dir() / "update_digests.txt").find(digestLine(newBytes, kNewTime)),
              std::string::npos);
  }
  const bool nothingInstalled = row.firstInstallation && row.end == End::Old;
  for (const char* path : {"Vardel.exe", "readme.txt"}) {
    const std::string expected =
        nothingInstalled ? "" : testing_support::readFile(context.release.platformDir() / path);
    EXPECT_TRUE(testing_support::readFile(installation.dir() / path) == expected) << path;
  }

  // The main program: restarted with the launcher's arguments, "--updated" after an update;
  // a first installation that could not complete starts nothing.
  const bool programStarts = !nothingInstalled && row.end != End::OldNotStarted;
  // The expected starts within the bound for a hang (a start under Wine on a busy machine takes
  // seconds), then a moment more for one start too many.
  std::vector<e2e::MainProgramStart> starts = installation.mainProgramStarts(
      row.starts > 0 ? row.starts * row.runs : programStarts ? 1 : 0);
  if (row.starts > 0) starts = installation.mainProgramStarts(row.starts * row.runs + 1, 1500);
  if (row.starts > 0) {
    EXPECT_EQ(starts.size(), row.starts * row.runs);
  }
  EXPECT_EQ(outsideSnapshot(root, installation.dir()), outsideBefore);
  if (!programStarts) {
    EXPECT_TRUE(starts.empty());
    return;
  }
  ASSERT_FALSE(starts.empty());
  std::vector<std::string> expectedArgs = args;
  if (row.end != End::Old && !row.firstInstallation) expectedArgs.push_back("--updated");
  EXPECT_EQ(starts.back().args, expectedArgs);
}

}  // namespace faults
