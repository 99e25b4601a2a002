// The sharing that the daily log and the staged downloads rely on.
#include "platform/file_writer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/file_lock.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::FileWriter;
using testing_support::readFile;

void write(FileWriter& writer, const std::string& text) {
  ASSERT_FALSE(writer.write(text.data(), text.size()));
}

TEST(FileWriterSharing, TwoAppendingWritersNeverOverwriteEachOther) {
  testing_support::TempDir dir;
  const auto file = dir / "kestrun-20250301.log";
  FileWriter first;
  FileWriter second;
  ASSERT_FALSE(first.open(file, FileWriter::Mode::Append));
  ASSERT_FALSE(second.open(file, FileWriter::Mode::Append));
  write(first, "one\n");
  write(second, "two\n");
  write(first, "three\n");
  write(second, "four\n");
  EXPECT_FALSE(first.close());
  EXPECT_FALSE(second.close());
  EXPECT_EQ(readFile(file), "one\ntwo\nthree\nfour\n");
}

TEST(FileWriterSharing, OpenFileCanBeReadWrittenAndDeletedByOthers) {
  testing_support::TempDir dir;
  const auto file = dir / "shared.bin";
  for (FileWriter::Mode mode : {FileWriter::Mode::Truncate, FileWriter::Mode::Append}) {
    FileWriter writer;
    ASSERT_FALSE(writer.open(file, mode));
    write(writer, "data");
    HANDLE other = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE) << GetLastError();
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_TRUE(DeleteFileW(file.c_str())) << GetLastError();
    EXPECT_FALSE(writer.close());
  }
}

TEST(FileWriterSharing, FileHeldWithoutWriteSharingCannotBeOpened) {
  testing_support::TempDir dir;
  const auto file = dir / "locked.bin";
  HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  FileWriter writer;
  const std::error_code error = writer.open(file, FileWriter::Mode::Append);
  EXPECT_EQ(error, std::error_code(ERROR_SHARING_VIOLATION, std::system_category())) << error.message();
  EXPECT_FALSE(writer.isOpen());
  CloseHandle(holder);
}

// Another program that looks at the lock file, sharing reading only, does not keep the
// launcher from taking the lock.
TEST(FileLockSharing, AReaderThatSharesOnlyReadingLeavesTheLockFree) {
  testing_support::TempDir dir;
  const auto file = dir / "update.lock";
  HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  platform::FileLock lock;
  bool acquired = false;
  EXPECT_FALSE(lock.tryLock(file, acquired));
  EXPECT_TRUE(acquired);
  CloseHandle(reader);
}

}  // namespace
