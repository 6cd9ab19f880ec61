// Natively the ANSI code page is UTF-8: a UTF-8 name keeps its bytes.
#include <gtest/gtest.h>

#include <string>

#include "unzip/names/entry_name.h"

namespace {

TEST(EntryNamePosix, Utf8NamesPassUnchanged) {
  for (const char* name : {"caf\xC3\xA9/\xE4\xB8\xAD\xE6\x96\x87.txt", "\xF0\x9F\x98\x80.txt"}) {
    char out[kUnpackMaxPath];
    ASSERT_EQ(UnpackDecodeName(name, kUnpackFlagUtf8Name, nullptr, 0, nullptr, 0, out), UNPACK_OK);
    EXPECT_EQ(std::string(out), name);
  }
}

}  // namespace
