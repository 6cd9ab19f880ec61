#include "updater/release/patch_decoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <zstd.h>

#include "testing/unpack_test_util.h"

namespace {

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() % 7 == 0 ? random() : 'a' + random() % 4);
  return bytes;
}

// A frame as unpack delta makes it: the base as prefix, the content size
// and a checksum in the frame.
std::string MakePatch(const std::string& base, const std::string& result, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  ZSTD_CCtx_refPrefix(context, base.data(), base.size());
  std::string frame(ZSTD_compressBound(result.size()), '\0');
  const size_t size =
      ZSTD_compress2(context, &frame[0], frame.size(), result.data(), result.size());
  ZSTD_freeCCtx(context);
  EXPECT_FALSE(ZSTD_isError(size));
  frame.resize(size);
  return frame;
}

// A frame written by hand: one raw block holding content, under a window
// of 2^windowLog bytes.
std::string RawFrame(const std::string& content, int windowLog) {
  std::string frame("\x28\xB5\x2F\xFD", 4);
  frame += '\x80';  // a 4-byte content size, no checksum, no dictionary
  frame += static_cast<char>((windowLog - 10) << 3);
  for (int i = 0; i < 4; ++i) frame += static_cast<char>(content.size() >> (8 * i));
  const uint32_t block = static_cast<uint32_t>(content.size() << 3) | 1;  // last, raw
  for (int i = 0; i < 3; ++i) frame += static_cast<char>(block >> (8 * i));
  return frame + content;
}

ReleaseFile LineFor(const std::string& base, const std::string& result) {
  ReleaseFile file;
  file.action = ReleaseAction::kPatch;
  file.hasBase = file.hasResult = true;
  Sha256Of(base.data(), base.size(), &file.base);
  Sha256Of(result.data(), result.size(), &file.result);
  file.size = result.size();
  return file;
}

class CStringSink : public CPatchSink {
 public:
  bool Write(const unsigned char* data, size_t size) override {
    if (failAfter >= 0 && bytes.size() + size > static_cast<size_t>(failAfter)) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
  long failAfter = -1;
};

PatchResult Apply(const std::string& base, const std::string& frame, const ReleaseFile& file,
                  CStringSink* sink) {
  CPatchMemorySource source(frame.data(), frame.size());
  return ApplyPatch(reinterpret_cast<const unsigned char*>(base.data()), base.size(), source, *sink,
                    file);
}

// Every way a patch can be wrong is refused, and the sink never receives
// more than the record's size.
TEST(PatchDecoderTest, AppliesGoodPatchesAndRefusesEveryBadOne) {
  const std::string base = RandomBytes(300000, 1);
  std::string result = base;
  result.replace(1000, 40, RandomBytes(40, 2));
  result.insert(200000, RandomBytes(5000, 3));
  const std::string patch = MakePatch(base, result, 19);
  ASSERT_LT(patch.size(), 8000u);
  const ReleaseFile line = LineFor(base, result);

  std::string flipped = patch;
  flipped[flipped.size() / 2] ^= 0x20;
  std::string otherBase = base;
  otherBase[150000] ^= 1;
  ReleaseFile wrongHash = line;
  wrongHash.result.bytes[5] ^= 1;
  ReleaseFile wrongSize = line;
  wrongSize.size += 1;
  ReleaseFile huge = line;
  huge.size = kMaxPatchedFileSize + 1;
  const std::string small = "twelve bytes";
  const ReleaseFile smallLine = LineFor(base, small);
  const std::string skippable = std::string(
      "\x50\x2A\x4D\x18\x04\x00\x00\x00"
      "abcd",
      12);

  struct Case {
    const char* what;
    std::string base;
    std::string frame;
    ReleaseFile line;
    PatchResult expected;
  } cases[] = {
      {"good", base, patch, line, PatchResult::kApplied},
      {"raw frame in a small window", base, RawFrame(small, 19), smallLine, PatchResult::kApplied},
      {"base changed", otherBase, patch, line, PatchResult::kWrongBase},
      {"byte flipped", base, flipped, line, PatchResult::kDamaged},
      {"cut short", base, patch.substr(0, patch.size() - 3), line, PatchResult::kDamaged},
      {"cut in the header", base, patch.substr(0, 5), line, PatchResult::kDamaged},
      {"empty", base, "", line, PatchResult::kDamaged},
      {"bytes after the frame", base, patch + "x", line, PatchResult::kDamaged},
      {"two frames", base, patch + patch, line, PatchResult::kDamaged},
      {"skippable frame", base, skippable, line, PatchResult::kDamaged},
      {"record's size differs", base, patch, wrongSize, PatchResult::kDamaged},
      {"record's hash differs", base, patch, wrongHash, PatchResult::kWrongResult},
      {"window of 2^27 for 300 KB", base, RawFrame(small, 27), smallLine,
       PatchResult::kWindowTooLarge},
      {"result too large to patch", base, patch, huge, PatchResult::kTooLarge},
  };
  for (const Case& c : cases) {
    CStringSink sink;
    EXPECT_EQ(c.expected, Apply(c.base, c.frame, c.line, &sink)) << c.what;
    EXPECT_LE(sink.bytes.size(), c.line.size) << c.what;
    if (c.expected == PatchResult::kApplied) {
      EXPECT_EQ(c.line.size, sink.bytes.size()) << c.what;
      Sha256Digest got = {};
      ASSERT_TRUE(Sha256Of(sink.bytes.data(), sink.bytes.size(), &got));
      EXPECT_TRUE(got == c.line.result) << c.what;
    }
  }
  CStringSink full;
  full.failAfter = 1000;
  EXPECT_EQ(PatchResult::kWriteFailed, Apply(base, patch, line, &full));
}

// A result of several megabytes streams from a file through the bounded
// buffers into a new file that replaces the old one only when committed.
TEST(PatchDecoderTest, StreamsFromFileToFile) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() /
      ("patch_decoder_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
       "_" + std::to_string(reinterpret_cast<uintptr_t>(&folder)));
  fs::create_directories(folder);
  const std::string base = RandomBytes(3 << 20, 4);
  std::string result = base.substr(0, 2 << 20) + RandomBytes(100000, 5) + base.substr(1 << 20);
  const std::string patch = MakePatch(base, result, 23);
  const std::string framePath = (folder / "frame").string();
  const std::string target = (folder / "app.dll").string();
  std::ofstream(framePath, std::ios::binary) << patch;
  std::ofstream(target, std::ios::binary) << base;

  {
    CPatchFileSource source(framePath.c_str());
    CPatchFileSink sink(target.c_str(), 0);
    ASSERT_TRUE(sink.valid());
    ASSERT_EQ(PatchResult::kApplied, ApplyPatch(reinterpret_cast<const unsigned char*>(base.data()),
                                                base.size(), source, sink, LineFor(base, result)));
    EXPECT_EQ(base.size(), fs::file_size(target));  // not yet committed
    const UNPACK_FILETIME time = {0, 0x01D00000};
    ASSERT_TRUE(sink.Commit(time, time, time));
  }
  std::ifstream after(target, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(after)),
                            std::istreambuf_iterator<char>());
  EXPECT_TRUE(written == result);
  CPatchFileSource missing((folder / "none").string().c_str());
  unsigned char byte = 0;
  size_t got = 0;
  EXPECT_FALSE(missing.Read(&byte, 1, &got));
}

}  // namespace
