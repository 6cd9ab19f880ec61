#include "updater/download/signature_address.h"

#include <gtest/gtest.h>

TEST(SignatureAddressTest, DefaultAddressAppendsSigToThePathOnly) {
  const struct {
    const char* url;
    const char* sig;
  } cases[] = {
      {"http://h/u.zip", "http://h/u.zip.sig"},
      {"http://h/u.zip?v=3", "http://h/u.zip.sig?v=3"},
      {"http://h/u.zip#top", "http://h/u.zip.sig#top"},
      {"http://h/u.zip?a=1#b?c", "http://h/u.zip.sig?a=1#b?c"},
      {"file:///C:/u/u.zip", "file:///C:/u/u.zip.sig"},
      {"http://h/u.zip?next=http://g/", "http://h/u.zip.sig?next=http://g/"},
      // No file in the path: ".sig" would change the host, or name a folder.
      {"https://dl.example.com?v=2", ""},
      {"https://dl.example.com:8080#u.zip", ""},
      {"http://h", ""},
      {"http://h/", ""},
      {"http://h/updates/?v=2", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignatureUrl(c.url, ""), c.sig) << c.url;
  }
  EXPECT_EQ(SignatureUrl("http://h/u.zip?v=3", "http://k/u.sig"), "http://k/u.sig");
  EXPECT_EQ(SignatureFilePath("C:\\app\\12.tarnwick.zip"), "C:\\app\\12.tarnwick.zip.sig");
}
