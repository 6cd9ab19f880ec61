// CSignedArchive in a program built with the tests' key: a good signature
// leaves the archive readable but locked against change until Release; a
// refusal deletes the archive and the signature file.
#include "updater/download/signature_check.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/http_server.h"
#include "testing/test_signer.h"
#include "testing/zip_builder.h"
#include "unzip/unpack.h"

namespace {

class SignedArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    m_archive = std::string(temp) + "signed-" + std::to_string(GetCurrentProcessId()) + ".zip";
    m_bytes = zipbuild::ZipBuilder().AddFile("a.txt", "alpha").Build();
    ASSERT_TRUE(zipbuild::SaveBytes(m_archive, m_bytes));
    ASSERT_TRUE(m_server.started());
  }
  void TearDown() override {
    DeleteFileA(m_archive.c_str());
    DeleteFileA((m_archive + ".sig").c_str());
  }

  bool Exists(const std::string& path) const {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  TestHttpServer m_server;
  std::string m_archive;
  std::string m_bytes;
};

TEST_F(SignedArchiveTest, GoodSignatureLocksTheArchiveUntilRelease) {
  m_server.Serve("/a.zip.sig", {200, testsign::SignWithTestKey(m_bytes)});
  CSignedArchive archive;
  ASSERT_TRUE(archive.Verify(m_archive.c_str(), m_server.Url("/a.zip.sig").c_str()));
  EXPECT_FALSE(Exists(m_archive + ".sig"));

  // Readers still can (the zip layer opens its own handle)...
  UnpackHandle reader = UnpackOpen(m_archive.c_str(), "");
  EXPECT_NE(reader, nullptr);
  UnpackClose(reader);
  // ...but nobody can change, delete, rename or replace the checked bytes.
  HANDLE writer = CreateFileA(m_archive.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileA(m_archive.c_str()));
  const std::string other = m_archive + ".other";
  ASSERT_TRUE(zipbuild::SaveBytes(other, "replacement"));
  EXPECT_FALSE(MoveFileExA(other.c_str(), m_archive.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(MoveFileExA(m_archive.c_str(), (m_archive + ".moved").c_str(), 0));
  DeleteFileA(other.c_str());

  archive.Release();
  EXPECT_TRUE(DeleteFileA(m_archive.c_str()));
}

TEST_F(SignedArchiveTest, RefusalDeletesArchiveAndSignature) {
  const std::string good = testsign::SignWithTestKey(m_bytes);
  m_server.Serve("/other.sig", {200, testsign::SignWithOtherKey(m_bytes)});
  m_server.Serve("/large.sig", {200, good + std::string(kMaxSignatureFileSize, '\0')});
  for (const char* path : {"/other.sig", "/large.sig", "/missing.sig"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(zipbuild::SaveBytes(m_archive, m_bytes));
    CSignedArchive archive;
    EXPECT_FALSE(archive.Verify(m_archive.c_str(), m_server.Url(path).c_str()));
    EXPECT_FALSE(Exists(m_archive));
    EXPECT_FALSE(Exists(m_archive + ".sig"));
  }
}

}  // namespace
