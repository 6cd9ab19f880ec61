#include "updater/download/signature_address.h"

#include <gtest/gtest.h>

TEST(SignatureAddressTest, DefaultAddressAppendsSigToThePath) {
  const struct {
    const char* url;
    const char* sig;
  } cases[] = {
      {"http://h/u.zip", "http://h/u.zip.sig"},
      {"http://h/u.zip?v=3", "http://h/u.zip.sig?v=3"},
      {"http://h/u.zip#top", "http://h/u.zip.sig#top"},
      {"http://h/u.zip?a=1#b?c", "http://h/u.zip.sig?a=1#b?c"},
      {"", ".sig"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignatureUrl(c.url, ""), c.sig) << c.url;
  }
  EXPECT_EQ(SignatureUrl("http://h/u.zip?v=3", "http://k/u.sig"), "http://k/u.sig");
  EXPECT_EQ(SignatureFilePath("C:\\app\\12.tarnwick.zip"), "C:\\app\\12.tarnwick.zip.sig");
}
