// A full disk must surface as an error, never pass as a successful write.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/file_writer.h"

namespace {

TEST(PosixFileWriter, FullDeviceReportsNoSpace) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  platform::FileWriter writer;
  ASSERT_FALSE(writer.open("/dev/full", platform::FileWriter::Mode::Append));
  const std::string line = "a line that does not fit\n";
  const std::error_code error = writer.write(line.data(), line.size());
  ASSERT_TRUE(error);
  EXPECT_EQ(error.value(), ENOSPC);
  EXPECT_EQ(error.category(), std::system_category());
}

}  // namespace
