#include "updater/download/signature_der.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Integer(const std::string& value) {
  return std::string{'\x02', static_cast<char>(value.size())} + value;
}

std::string Sequence(const std::string& body) {
  return std::string{'\x30', static_cast<char>(body.size())} + body;
}

bool Decode(const std::string& der, std::string* raw) {
  unsigned char out[kRawSignatureSize];
  const bool ok =
      DecodeSignatureDer(reinterpret_cast<const unsigned char*>(der.data()), der.size(), out);
  raw->assign(reinterpret_cast<char*>(out), sizeof(out));
  return ok;
}

// Every byte string here is a signature OpenSSL either writes or refuses;
// the fuzz target compares the decoder with OpenSSL on arbitrary bytes.
TEST(SignatureDerTest, AcceptsOnlyStrictDerOfTwoPositiveScalars) {
  const std::string full(32, '\x81');                 // top bit set: needs a leading zero
  const std::string r = std::string(1, '\0') + full;  // 33 bytes as DER writes it
  const std::string s = std::string("\x05");          // a short scalar is left-padded
  std::string raw;
  ASSERT_TRUE(Decode(Sequence(Integer(r) + Integer(s)), &raw));
  EXPECT_EQ(raw.substr(0, 32), full);
  EXPECT_EQ(raw.substr(32), std::string(31, '\0') + "\x05");

  const std::string good = Sequence(Integer(r) + Integer(s));
  const struct {
    const char* what;
    std::string der;
  } refused[] = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() - 1)},
      {"trailing byte", good + '\0'},
      {"sequence length too long", std::string("\x30\x7F") + good.substr(2)},
      {"one integer", Sequence(Integer(r))},
      {"three integers", Sequence(Integer(r) + Integer(s) + Integer(s))},
      {"negative", Sequence(Integer(full) + Integer(s))},
      {"zero padding not needed", Sequence(Integer(std::string("\x00\x05", 2)) + Integer(s))},
      {"empty integer", Sequence(Integer("") + Integer(s))},
      {"scalar of 33 bytes", Sequence(Integer("\x01" + full) + Integer(s))},
      {"long form for a short length", std::string("\x30\x81\x07") + Integer("\x01") + Integer(s)},
      {"wrong outer tag", "\x31" + good.substr(1)},
      {"wrong inner tag", Sequence("\x04\x01\x05" + Integer(s))},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(Decode(c.der, &raw)) << c.what;
  }
}

}  // namespace
