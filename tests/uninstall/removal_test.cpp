// What KestrunRemove removes from an installation, and what it leaves, on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "names/installation_layout.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/process.h"
#include "staging/installed_paths_record.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"
#include "uninstall/removal_run.h"

namespace {

namespace fs = std::filesystem;
using testing_support::writeFile;

const std::string kLauncher = kLauncherFileName;

struct Row {
  const char* behaviour;
  std::vector<std::string> files;                          // below the temporary root
  std::vector<std::pair<std::string, std::string>> links;  // folder link -> its target, below the root
  std::string record;  // none when empty
  bool holdLock = false;
  bool runProgram = false;
  RemovalExit exit;
  std::vector<std::string> lines;  // "<root>" stands for the root, "<pid>" for a process id
  std::vector<std::string> left;   // every item below the root afterwards
  std::string blocked = {};     // a file the run cannot remove; then run again once it can
  std::string recordLeft = {};  // the record between the two runs
  std::string program = kMainProgramFileName;  // what the running child is
};

const std::vector<std::string> kInstalled = {"inst/" + kLauncher, "inst/Vardel.exe", "inst/bin/a.dll",
                                             "inst/data/sub/b.dat", "inst/data/user.txt", "inst/logs/kestrun-20260101.log",
                                             "inst/logs/vardel.log", "inst/update.log", "inst/update_staging/x/y",
                                             "outside/keep"};

const Row kRows[] = {
    {"a whole installation, the user's files left",
     kInstalled, {}, "Vardel.exe\nbin/a.dll\ndata/sub/b.dat\n", false, false, RemovalExit::Removed,
     {"已移除本安装的 URL 协议注册：0 项", "已删除 10 项，留下 4 项"},
     {"inst", "inst/" + kLauncher, "inst/data", "inst/data/user.txt", "inst/logs", "inst/logs/vardel.log", "outside",
      "outside/keep"}},
    {"a hostile record removes nothing outside",
     {"inst/Vardel.exe", "outside/keep"}, {{"inst/linked", "../outside"}},
     "../outside/keep\n<root>/outside/keep\nlinked/keep\nupdate.log\n" + kLauncher + "\n", false, false,
     RemovalExit::Removed,
     {"已移除本安装的 URL 协议注册：0 项", "跳过记录中不允许的路径：../outside/keep",
      "跳过记录中不允许的路径：<root>/outside/keep", "跳过经过链接目录的路径：linked/keep",
      "跳过记录中不允许的路径：update.log", "跳过记录中不允许的路径：" + kLauncher, "已删除 2 项，留下 2 项"},
     {"inst", "inst/Vardel.exe", "inst/linked", "outside", "outside/keep"}},
    {"a recorded link goes as a link",
     {"inst/Vardel.exe", "outside/keep"}, {{"inst/lib/current", "../../outside"}}, "Vardel.exe\nlib/current\n", false,
     false, RemovalExit::Removed, {"已移除本安装的 URL 协议注册：0 项", "已删除 5 项，留下 0 项"},
     {"inst", "outside", "outside/keep"}},
    {"a folder that is no installation is refused",
     {"inst/user.txt"}, {}, "", false, false, RemovalExit::NotInstallation,
     {"不是 Kestrun 安装目录，未做任何改动：<root>/inst"}, {"inst", "inst/user.txt"}},
    {"a held lock touches nothing",
     {"inst/Vardel.exe"}, {}, "Vardel.exe\n", true, false, RemovalExit::LockUnavailable,
     {"等待另一个 Kestrun 结束超时（0 秒），未做任何改动"},
     {"inst", "inst/Vardel.exe", "inst/update.lock", "inst/update_installed.txt"}},
    {"a running program is stopped, then removed",
     {}, {}, "Vardel.exe\n", false, true, RemovalExit::Removed,
     {"已结束正在运行的 Vardel：进程 <pid>", "已移除本安装的 URL 协议注册：0 项", "已删除 3 项，留下 2 项"},
     {"inst", "inst/child_behaviour.txt", "inst/child_record.txt"}},
    {"a running launcher, which would take the lock next, is stopped",
     {}, {}, "", false, true, RemovalExit::Removed,
     {"已结束正在运行的 Kestrun：进程 <pid>", "已移除本安装的 URL 协议注册：0 项", "已删除 1 项，留下 2 项"},
     {"inst", "inst/" + kLauncher, "inst/child_behaviour.txt", "inst/child_record.txt"}, "", "", kLauncher},
    {"a report and a record alone make no installation",
     {"inst/update.log", "inst/update_digests.txt"}, {}, "", false, false, RemovalExit::NotInstallation,
     {"不是 Kestrun 安装目录，未做任何改动：<root>/inst"}, {"inst", "inst/update.log", "inst/update_digests.txt"}},
    {"a short name's form in the record is refused",
     {"inst/KESTRU~1.EXE", "inst/data/USERFI~1.TXT"}, {}, "KESTRU~1.EXE\ndata/USERFI~1.TXT\n", false, false,
     RemovalExit::Removed,
     {"已移除本安装的 URL 协议注册：0 项", "跳过记录中不允许的路径：KESTRU~1.EXE", "跳过记录中不允许的路径：data/USERFI~1.TXT",
      "已删除 2 项，留下 3 项"},
     {"inst", "inst/KESTRU~1.EXE", "inst/data", "inst/data/USERFI~1.TXT"}},
    {"a record that cannot be read: nothing removed",
     {"inst/Vardel.exe", "inst/update_installed.txt/x"}, {}, "", false, false, RemovalExit::SomeLeft,
     {"无法读取已安装路径记录，未删除任何文件：<root>/inst/update_installed.txt"},
     {"inst", "inst/Vardel.exe", "inst/update.lock", "inst/update_installed.txt", "inst/update_installed.txt/x"}},
    {"what could not be removed stays recorded, and a second run removes it",
     {"inst/Vardel.exe", "inst/bin/a.dll"}, {}, "Vardel.exe\nbin/a.dll\n", false, false, RemovalExit::SomeLeft,
     {"已移除本安装的 URL 协议注册：0 项", "无法删除：bin/a.dll；原因：<reason>", "已删除 2 项，留下 3 项", "有 1 项未能删除",
      "已移除本安装的 URL 协议注册：0 项", "已删除 4 项，留下 0 项"},
     {"inst"}, "inst/bin/a.dll", "bin/a.dll\n"},
};

// Keeps a file from being removed while it lives: on Windows held open without delete sharing;
// elsewhere in a folder made immutable (root passes over any mode), or else read-only.
struct RemovalBlock {
  explicit RemovalBlock(const fs::path& file) : held(file, std::ios::app), folder(file.parent_path()) { set(true); }
  ~RemovalBlock() { set(false); }
  void set([[maybe_unused]] bool on) {
#ifndef _WIN32
    if (std::system(("chattr " + std::string(on ? "+i '" : "-i '") + folder.string() + "' 2>/dev/null").c_str())) {
      fs::permissions(folder, fs::perms::owner_write, on ? fs::perm_options::remove : fs::perm_options::add);
    }
#endif
  }
  // Whether the block holds here: a file system without immutable folders lets root write anyway.
  bool holds() const {
    const fs::path probe = folder / "probe";
    const bool written = static_cast<bool>(std::ofstream(probe));
    std::error_code ignored;
    fs::remove(probe, ignored);
    return !written;
  }
  std::ofstream held;
  fs::path folder;
};

std::vector<std::string> itemsBelow(const fs::path& root) {
  std::vector<std::string> items;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    items.push_back(it->path().lexically_relative(root).generic_string());
  }
  std::sort(items.begin(), items.end());
  return items;
}

std::vector<std::string> linesOf(const std::string& text, const fs::path& root) {
  std::vector<std::string> lines;
  const std::string shown = std::regex_replace(text, std::regex("进程 [0-9]+"), "进程 <pid>");
  std::istringstream in(std::regex_replace(shown, std::regex("原因：[^\n]*"), "原因：<reason>"));
  for (std::string line; std::getline(in, line);) {
    std::replace(line.begin(), line.end(), '\\', '/');
    for (std::size_t at; (at = line.find(root.generic_string())) != std::string::npos;) {
      line.replace(at, root.generic_string().size(), "<root>");
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(KestrunRemove, RemovesWhatTheInstallationPutThereAndNothingElse) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.behaviour);
    testing_support::TempDir temp;
    const fs::path root = fs::canonical(temp.path());
    // Wine makes no links: those rows run where links can be made.
    if (!row.links.empty() && !testing_support::symlinkUnavailableReason(root).empty()) continue;
    for (const std::string& file : row.files) writeFile(root / file, "bytes\n");
    for (const auto& [link, target] : row.links) {
      fs::create_directories((root / link).parent_path());
      fs::create_directory_symlink(target, root / link);
    }
    if (!row.record.empty()) {
      writeFile(root / "inst" / kInstalledPathsRecordFileName,
                std::regex_replace(row.record, std::regex("<root>"), root.generic_string()));
    }
    platform::FileLock lock;
    bool locked = false;
    if (row.holdLock) {
      ASSERT_FALSE(lock.tryLock(root / "inst" / kInstallationLockFileName, locked) || !locked);
    }
    platform::ProcessHandle program;
    if (row.runProgram) {
      fs::path own;
      ASSERT_TRUE(platform::ownExecutablePath(own));
      writeFile(root / "inst/child_behaviour.txt", "sleep=60000\n");
      fs::copy_file(own.parent_path() / ("kestrun_test_child" + own.extension().string()), root / "inst" / row.program);
      std::uint32_t errorCode = 0;
      program = platform::startProcess(root / "inst" / row.program, {}, root / "inst", errorCode);
      ASSERT_TRUE(program) << errorCode;
      // The child has started once it has written its record.
      for (int i = 0; i < 500 && !fs::exists(root / "inst/child_record.txt"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    std::ostringstream out;
    auto block = row.blocked.empty() ? nullptr : std::make_unique<RemovalBlock>(root / row.blocked);
#ifndef _WIN32
    if (block && !block->holds()) {
      std::cout << "skipped: " << row.behaviour << " (nothing here stops root from removing a file)\n";
      continue;
    }
#endif
    EXPECT_EQ(removeInstallation({root / "inst", std::chrono::seconds(0)}, out), row.exit);
    if (block) {
      block.reset();
      EXPECT_EQ(testing_support::readFile(root / "inst" / kInstalledPathsRecordFileName), row.recordLeft);
      EXPECT_EQ(removeInstallation({root / "inst", std::chrono::seconds(0)}, out), RemovalExit::Removed);
    }
    EXPECT_EQ(linesOf(out.str(), root), row.lines);
    std::vector<std::string> left = row.left;
    std::sort(left.begin(), left.end());
    EXPECT_EQ(itemsBelow(root), left);
    std::uint32_t errorCode = 0;
    if (program) {
      EXPECT_EQ(platform::waitForExit(*program, 0, errorCode), platform::WaitResult::Exited);
    }
  }
}

TEST(InstalledPathsRecord, KeepsWhatEarlierAppliesPutThere) {
  testing_support::TempDir dir;
  writeFile(dir / kInstalledPathsRecordFileName, "old/gone.dll\r\nVardel.exe\n");
  std::string errorText;
  const ManifestEntryList applied{ManifestEntry{"Vardel.exe", 1, 1, ""}, ManifestEntry{"lib/new.dll", 1, 1, ""}};
  // Written before the apply: none of these files is there yet.
  ASSERT_EQ(recordInstalledPaths(dir.path(), applied, errorText), InstalledPathsWrite::Written);
  EXPECT_EQ(testing_support::readFile(dir / kInstalledPathsRecordFileName), "Vardel.exe\nlib/new.dll\nold/gone.dll\n");
  // A record that cannot be read is left for a later apply, not replaced by this one's paths.
  fs::create_directories(dir / "other" / kInstalledPathsRecordFileName);
  EXPECT_EQ(recordInstalledPaths(dir / "other", applied, errorText), InstalledPathsWrite::OldUnreadable);
  EXPECT_TRUE(fs::is_directory(dir / "other" / kInstalledPathsRecordFileName));
}

}  // namespace
