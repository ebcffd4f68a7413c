// Reading a file whole, and ASCII case folding.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "base/ascii_case.h"
#include "base/file_text.h"

namespace {

TEST(FileText, ReadsEveryByteOrNothing) {
  const std::string path = ::testing::TempDir() + "quibex-file-text.bin";
  const std::string bytes("a\0b\r\n\xff", 6);
  std::ofstream(path, std::ios::binary) << bytes;
  EXPECT_EQ(read_file(path), bytes);
  std::remove(path.c_str());
  EXPECT_EQ(read_file(path), "");
  EXPECT_EQ(read_file(::testing::TempDir()), "");  // a folder
}

TEST(AsciiCase, LowersOnlyAsciiLetters) {
  EXPECT_EQ(ascii_lower("Ctrl+Shift+AZ@[`{"), "ctrl+shift+az@[`{");
  // UTF-8 and Latin-1 upper-case letters pass through as bytes.
  EXPECT_EQ(ascii_lower("\xc3\x89T\xc9"), "\xc3\x89t\xc9");
}

}  // namespace
