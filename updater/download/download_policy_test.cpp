#include "updater/download/download_policy.h"

#include <gtest/gtest.h>

namespace {

// Headers come from the server: anything but the exact form is refused,
// and no number overflows.
TEST(DownloadPolicyTest, HeaderValuesAreReadOnlyInTheirExactForm) {
  uint64_t count = 0;
  EXPECT_TRUE(ParseByteCount("123456", &count));
  EXPECT_EQ(count, 123456u);
  EXPECT_TRUE(ParseByteCount("999999999999999999", &count));
  for (const char* bad : {"", " 12", "12 ", "-1", "+1", "1e6", "0x10", "9999999999999999999"}) {
    EXPECT_FALSE(ParseByteCount(bad, &count)) << bad;
  }

  uint32_t seconds = 0;
  EXPECT_TRUE(ParseRetryAfter("120", &seconds));
  EXPECT_EQ(seconds, 120u);
  EXPECT_TRUE(ParseRetryAfter("999999999999", &seconds));
  EXPECT_EQ(seconds, UINT32_MAX);
  EXPECT_FALSE(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT", &seconds));

  const struct {
    const char* text;
    bool valid;
    uint64_t first, last, total;
  } ranges[] = {
      {"bytes 100-199/200", true, 100, 199, 200},
      {"bytes 0-0/1", true, 0, 0, 1},
      {"bytes 5-9/*", true, 5, 9, kUnknownTotal},
      {"bytes 100-199/150", false, 0, 0, 0},  // past the end
      {"bytes 200-100/300", false, 0, 0, 0},
      {"bytes */200", false, 0, 0, 0},
      {"bytes 100-/200", false, 0, 0, 0},
      {"items 1-2/3", false, 0, 0, 0},
      {"bytes 1-2/3 ", false, 0, 0, 0},
      {"bytes 1-99999999999999999999/3", false, 0, 0, 0},
  };
  for (const auto& c : ranges) {
    ContentRange range;
    EXPECT_EQ(ParseContentRange(c.text, &range), c.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(range.first, c.first) << c.text;
    EXPECT_EQ(range.last, c.last) << c.text;
    EXPECT_EQ(range.total, c.total) << c.text;
  }

  EXPECT_TRUE(IsStrongEntityTag("\"abc\""));
  EXPECT_FALSE(IsStrongEntityTag("W/\"abc\""));
  EXPECT_FALSE(IsStrongEntityTag("\""));
}

// Bytes of two different files must never meet in one: only a 206 that
// starts where the file on disk ends, and runs to the end of a file of the
// size known so far, continues it.
TEST(DownloadPolicyTest, OnlyAnAnswerThatContinuesTheFileIsAppended) {
  const struct {
    const char* name;
    unsigned status;
    uint64_t have, knownTotal;
    const char* contentRange;
    AnswerUse use;
  } cases[] = {
      {"whole file", 200, 0, kUnknownTotal, nullptr, AnswerUse::kStartOver},
      {"range ignored", 200, 500, 1000, nullptr, AnswerUse::kStartOver},
      {"the rest", 206, 500, 1000, "bytes 500-999/1000", AnswerUse::kAppend},
      {"the rest, size unknown before", 206, 500, kUnknownTotal, "bytes 500-999/1000",
       AnswerUse::kAppend},
      {"size unknown on both sides", 206, 500, kUnknownTotal, "bytes 500-999/*",
       AnswerUse::kAppend},
      {"another start", 206, 500, 1000, "bytes 400-999/1000", AnswerUse::kMismatch},
      {"not to the end", 206, 500, 1000, "bytes 500-899/1000", AnswerUse::kMismatch},
      {"another size", 206, 500, 1000, "bytes 500-1199/1200", AnswerUse::kMismatch},
      {"size now unknown", 206, 500, 1000, "bytes 500-999/*", AnswerUse::kMismatch},
      {"no Content-Range", 206, 500, 1000, nullptr, AnswerUse::kMismatch},
      {"garbage Content-Range", 206, 500, 1000, "bytes=500-", AnswerUse::kMismatch},
      {"a part not asked for", 206, 0, kUnknownTotal, "bytes 0-999/1000", AnswerUse::kMismatch},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UseOfAnswer(c.status, c.have, c.knownTotal, c.contentRange), c.use) << c.name;
  }
}

}  // namespace
