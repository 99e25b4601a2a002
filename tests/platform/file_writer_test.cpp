#include "platform/file_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/file_lock.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "tests/support/symlink_support.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::FileWriter;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

std::error_code writeText(FileWriter& writer, const std::string& text) { return writer.write(text.data(), text.size()); }

TEST(FileWriter, TruncateAndAppendModes) {
  const struct {
    const char* name;
    bool existing;
    FileWriter::Mode mode;
    std::string expected;
  } cases[] = {
      {"append creates a missing file", false, FileWriter::Mode::Append, "new"},
      {"append extends an existing file", true, FileWriter::Mode::Append, "old contentnew"},
      {"truncate creates a missing file", false, FileWriter::Mode::Truncate, "new"},
      {"truncate empties an existing file", true, FileWriter::Mode::Truncate, "new"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const auto file = dir / "file.txt";
    if (c.existing) writeFile(file, "old content");
    FileWriter writer;
    EXPECT_FALSE(writer.isOpen()) << c.name;
    ASSERT_FALSE(writer.open(file, c.mode)) << c.name;
    EXPECT_TRUE(writer.isOpen()) << c.name;
    ASSERT_FALSE(writeText(writer, "new")) << c.name;
    ASSERT_FALSE(writer.close()) << c.name;
    EXPECT_FALSE(writer.isOpen()) << c.name;
    EXPECT_EQ(readFile(file), c.expected) << c.name;
  }
}

TEST(FileWriter, EveryWriteIsOnDiskWhileTheFileIsStillOpen) {
  TempDir dir;
  const auto file = dir / "shared.log";
  FileWriter writer;
  ASSERT_FALSE(writer.open(file, FileWriter::Mode::Append));
  ASSERT_FALSE(writeText(writer, "line one\n"));
  // Another reader sees the line at once: nothing is buffered in the writer.
  EXPECT_EQ(readFile(file), "line one\n");
  ASSERT_FALSE(writeText(writer, "line two\n"));
  EXPECT_EQ(readFile(file), "line one\nline two\n");

  // A second writer of the same file appends after the first one's lines.
  FileWriter other;
  ASSERT_FALSE(other.open(file, FileWriter::Mode::Append));
  ASSERT_FALSE(writeText(other, "other\n"));
  ASSERT_FALSE(writeText(writer, "line three\n"));
  EXPECT_EQ(readFile(file), "line one\nline two\nother\nline three\n");
}

TEST(FileWriter, LargeWriteArrivesWhole) {
  TempDir dir;
  const auto file = dir / "large.bin";
  std::string content(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 % 251);
  FileWriter writer;
  ASSERT_FALSE(writer.open(file, FileWriter::Mode::Truncate));
  ASSERT_FALSE(writeText(writer, content));
  ASSERT_FALSE(writer.close());
  EXPECT_EQ(readFile(file), content);
}

TEST(FileWriter, FailuresAreReported) {
  TempDir dir;
  FileWriter writer;
  const std::error_code missingDirectory = writer.open(dir / "missing" / "file.txt", FileWriter::Mode::Append);
  EXPECT_TRUE(missingDirectory);
  EXPECT_TRUE(platform::isNotFoundError(missingDirectory)) << missingDirectory.message();
  EXPECT_FALSE(writer.isOpen());
  EXPECT_TRUE(writeText(writer, "nothing open"));
  EXPECT_FALSE(writer.close()) << "closing a writer that is not open is no error";

  EXPECT_TRUE(writer.open(dir.path(), FileWriter::Mode::Append)) << "a directory is not a file";
  EXPECT_FALSE(writer.isOpen());
}

TEST(FileWriter, ReopeningClosesTheFormerFile) {
  TempDir dir;
  FileWriter writer;
  ASSERT_FALSE(writer.open(dir / "first.txt", FileWriter::Mode::Truncate));
  ASSERT_FALSE(writeText(writer, "1"));
  ASSERT_FALSE(writer.open(dir / "second.txt", FileWriter::Mode::Truncate));
  ASSERT_FALSE(writeText(writer, "2"));
  ASSERT_FALSE(writer.close());
  EXPECT_EQ(readFile(dir / "first.txt"), "1");
  EXPECT_EQ(readFile(dir / "second.txt"), "2");
}

TEST(FileWriter, NeverWritesThroughALinkAtItsPath) {
  TempDir dir;
  SKIP_WITHOUT_SYMLINKS(dir.path());
  writeFile(dir / "outside.txt", "outside");
  ASSERT_FALSE(platform::createFileSymlink(platform::fromUtf8(platform::pathToUtf8(dir / "outside.txt")), dir / "link"));
  for (const FileWriter::Mode mode : {FileWriter::Mode::Truncate, FileWriter::Mode::Append}) {
    FileWriter writer;
    EXPECT_TRUE(writer.open(dir / "link", mode));
  }
  EXPECT_EQ(readFile(dir / "outside.txt"), "outside");
}

TEST(FileLock, OneHolderAtATimeUntilItLetsGo) {
  TempDir dir;
  auto first = std::make_unique<platform::FileLock>();
  bool acquired = false;
  ASSERT_FALSE(first->tryLock(dir / "update.lock", acquired));
  EXPECT_TRUE(acquired);
  platform::FileLock second;
  ASSERT_FALSE(second.tryLock(dir / "update.lock", acquired));
  EXPECT_FALSE(acquired);
  EXPECT_FALSE(second.tryAgain(acquired));
  EXPECT_FALSE(acquired);
  first.reset();
  EXPECT_FALSE(second.lock());
  EXPECT_TRUE(second.held());
}

}  // namespace
