// The updater built with the tests' publisher key: the real program against
// a web server of the test's own. A signed archive is installed as by the
// unsigned build; anything else is refused before a file is written.
#include <winsock2.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/test_signer.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"
#include "testing/zip_builder.h"

namespace {

const DWORD kTimeoutMs = 30000;

std::string UpdateArchive() {
  std::string payload;
  for (int i = 0; payload.size() < 100000; ++i) payload += "line " + std::to_string(i) + "\n";
  zipbuild::ZipEntry readme;
  readme.name = "readme.txt";
  readme.data = "hello from the signed update\n";
  readme.externalAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
  readme.localExtra = zipbuild::UtBlock(0x01, {1600000000});
  return zipbuild::ZipBuilder().Add(readme).AddFile("data/payload.txt", payload).Build();
}

std::wstring SignedLog(const UpdaterSandbox& sandbox) {
  return sandbox.folder() + L"\\run.log";
}

// The log line of the signature check, without its time stamp.
std::string SignatureLogLine(const UpdaterSandbox& sandbox) {
  const std::string log = ReadFileBytes(SignedLog(sandbox));
  const size_t at = log.find(" signature ");
  return at == std::string::npos ? "" : log.substr(at + 1, log.find('\r', at) - at - 1);
}

// Runs the signed updater on url (and -sig when given) with a log in the
// sandbox and answers its boxes with OK. Answers the texts of the boxes, in
// order; *exitCode is the process's.
std::vector<std::wstring> RunSigned(const UpdaterSandbox& sandbox, const std::string& url,
                                    const std::string& sig, std::vector<int>* percentages,
                                    DWORD* exitCode) {
  std::wstring args = L"-url " + ui::Widen(url) + L" -dest \"" + sandbox.target() + L"\"";
  if (!sig.empty()) args += L" -sig " + ui::Widen(sig);
  args += L" -log \"" + SignedLog(sandbox) + L"\"";
  auto process = sandbox.Start(args);
  std::vector<std::wstring> boxes;
  auto dialog = WaitForProgressDialog(process->id(), kTimeoutMs);
  if (!dialog.has_value()) return {L"(no dialog)"};
  HWND status = GetDlgItem(dialog->hwnd, 1001);
  HWND bar = GetDlgItem(dialog->hwnd, 1000);
  const DWORD start = GetTickCount();
  const DWORD limit = ScaledTimeout(kTimeoutMs);
  while (!process->WaitExit(15) && GetTickCount() - start < limit) {
    DWORD_PTR pos = 0;
    const std::wstring before = ui::WindowText(status);
    if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos) &&
        before == ui::WindowText(status) && !before.empty()) {
      percentages->push_back(static_cast<int>(pos));
    }
    for (const ui::WindowInfo& w : ui::TopLevelWindows(process->id())) {
      if (!w.visible || w.className != L"#32770" || GetDlgItem(w.hwnd, 0xFFFF) == nullptr) {
        continue;
      }
      boxes.push_back(ui::MessageBoxText(w.hwnd));
      EXPECT_EQ(w.owner, dialog->hwnd);
      EXPECT_EQ(ui::ButtonIds(w.hwnd), std::vector<int>{IDOK});
      // The worker's box carries the exclamation icon, the dialog's none.
      EXPECT_EQ(ui::HasIcon(w.hwnd), boxes.size() == 1);
      ui::Press(w.hwnd, IDOK);
      while (IsWindow(w.hwnd) && IsWindowVisible(w.hwnd) && GetTickCount() - start < limit) {
        Sleep(10);
      }
    }
  }
  EXPECT_FALSE(process->running());
  *exitCode = process->exitCode();
  return boxes;
}

void ExpectNothingLeft(const UpdaterSandbox& sandbox) {
  EXPECT_TRUE(sandbox.Files(L"*.tarnwick.zip").empty());
  EXPECT_TRUE(sandbox.Files(L"*.sig").empty());
}

}  // namespace

// The signature's default address keeps the archive's query; -sig names
// another one. Either way the bar only rises, as without a key.
TEST(SignedUpdateTest, SignedArchiveIsInstalled) {
  const std::string archive = UpdateArchive();
  const std::string signature = testsign::SignWithTestKey(archive);
  ASSERT_FALSE(signature.empty());
  TestHttpResponse slow{200, archive};
  slow.bytesPerSecond = 50000;

  const struct {
    const char* sig;  // path of -sig, or none
    std::vector<std::string> requests;
  } cases[] = {
      {nullptr, {"/files/update.zip?build=7", "/files/update.zip.sig?build=7"}},
      {"/keys/elsewhere.sig", {"/files/update.zip?build=7", "/keys/elsewhere.sig"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sig != nullptr ? c.sig : "default address");
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    TestHttpServer server;
    ASSERT_TRUE(server.started());
    server.Serve("/files/update.zip", slow);
    server.Serve(c.sig != nullptr ? c.sig : "/files/update.zip.sig", {200, signature});

    std::vector<int> percentages;
    DWORD exitCode = STILL_ACTIVE;
    const std::string sigUrl =
        server.Url(c.sig != nullptr ? c.sig : "/files/update.zip.sig?build=7");
    const auto boxes = RunSigned(sandbox, server.Url("/files/update.zip?build=7"),
                                 c.sig != nullptr ? sigUrl : "", &percentages, &exitCode);

    EXPECT_TRUE(boxes.empty()) << ui::Narrow(boxes.empty() ? L"" : boxes[0]);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(SignatureLogLine(sandbox), "signature " + sigUrl + ": good");
    EXPECT_TRUE(sandbox.WaitTargetStarted(kTimeoutMs));
    EXPECT_EQ(server.RequestPaths(), c.requests);
    const std::wstring readme = sandbox.folder() + L"\\readme.txt";
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    ASSERT_TRUE(GetFileAttributesExW(readme.c_str(), GetFileExInfoStandard, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    const FILETIME written = UnixTimeToFileTime(1600000000);
    EXPECT_EQ(CompareFileTime(&info.ftLastWriteTime, &written), 0);
    EXPECT_NE(GetFileAttributesW((sandbox.folder() + L"\\data\\payload.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
    ExpectNothingLeft(sandbox);
    ASSERT_GE(percentages.size(), 3u);
    for (size_t i = 1; i < percentages.size(); ++i) {
      EXPECT_GE(percentages[i], percentages[i - 1]) << "sample " << i;
    }
  }
}

TEST(SignedUpdateTest, ArchiveWithoutTheRightSignatureIsRefused) {
  const std::string archive = UpdateArchive();
  std::string tampered = archive;
  tampered[tampered.size() / 2] ^= 0x01;
  const std::string good = testsign::SignWithTestKey(archive);
  ASSERT_FALSE(good.empty());
  const struct {
    const char* what;
    std::string archive;
    std::string signature;  // empty: none is served (404)
  } cases[] = {
      {"missing signature", archive, ""},
      {"tampered archive", tampered, good},
      {"another key's signature", archive, testsign::SignWithOtherKey(archive)},
      {"garbage", archive, "not a signature at all"},
      {"too large", archive, good + std::string(8192, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    TestHttpServer server;
    ASSERT_TRUE(server.started());
    server.Serve("/update.zip", {200, c.archive});
    if (!c.signature.empty()) server.Serve("/update.zip.sig", {200, c.signature});

    std::vector<int> percentages;
    DWORD exitCode = STILL_ACTIVE;
    const auto boxes = RunSigned(sandbox, server.Url("/update.zip"), "", &percentages, &exitCode);

    EXPECT_EQ(exitCode, 3u);
    EXPECT_EQ(SignatureLogLine(sandbox),
              "signature " + server.Url("/update.zip.sig") + ": refused");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], L"Update refused.  The archive is not signed by the publisher.");
    EXPECT_EQ(boxes[1], L"Error Occured while Downloading");
    EXPECT_FALSE(sandbox.WaitTargetStarted(500));
    EXPECT_EQ(GetFileAttributesW((sandbox.folder() + L"\\readme.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((sandbox.folder() + L"\\data").c_str()), INVALID_FILE_ATTRIBUTES);
    ExpectNothingLeft(sandbox);
  }
}

// An address whose path names no file gives no default signature address
// (".sig" after the host would name another host): the signed build refuses
// it with exit 1 before downloading anything, and takes it with -sig.
TEST(SignedUpdateTest, AnAddressWithoutAFileNeedsSig) {
  const std::string archive = UpdateArchive();
  const std::string signature = testsign::SignWithTestKey(archive);
  ASSERT_FALSE(signature.empty());
  for (bool withSig : {false, true}) {
    SCOPED_TRACE(withSig ? "with -sig" : "without -sig");
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    TestHttpServer server;
    ASSERT_TRUE(server.started());
    server.Serve("/", {200, archive});
    server.Serve("/keys/update.sig", {200, signature});
    const std::string url = server.Url("?v=2");  // http://127.0.0.1:port?v=2
    std::wstring args = L"-silent -url " + ui::Widen(url) + L" -dest \"" + sandbox.target() +
                        L"\" -log \"" + SignedLog(sandbox) + L"\"";
    if (withSig) args += L" -sig " + ui::Widen(server.Url("/keys/update.sig"));

    auto process = sandbox.Start(args);
    ASSERT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_EQ(process->exitCode(), withSig ? 0u : 1u);
    const std::vector<std::string> requests = {"/?v=2", "/keys/update.sig"};
    EXPECT_EQ(server.RequestPaths(), withSig ? requests : std::vector<std::string>());
    EXPECT_EQ(sandbox.WaitTargetStarted(withSig ? kTimeoutMs : 300), withSig);
    if (!withSig) {
      EXPECT_NE(ReadFileBytes(SignedLog(sandbox))
                    .find("message (not shown): Update refused.  The address " + url +
                          " names no file, so the address of its signature cannot be made from "
                          "it; give it with -sig."),
                std::string::npos);
    }
    ExpectNothingLeft(sandbox);
  }
}

// A delta that does not fit the installed files gives way to the full
// archive (-full), which is checked against its own signature (-fullsig)
// before a file is written.
TEST(SignedUpdateTest, ADeltaThatDoesNotFitFallsBackToTheSignedFullArchive) {
  // The delta keeps a readme.txt ("abc") that the folder does not have.
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string delta =
      zipbuild::ZipBuilder()
          .AddFile("~update.release", "update-release 1\nversion 2\nfrom 1\nkeep " + abc + " " +
                                          abc + " 3 readme.txt\n")
          .Build();
  const std::string full = UpdateArchive();
  for (bool goodSignature : {true, false}) {
    SCOPED_TRACE(goodSignature ? "signed full archive" : "full archive signed by another key");
    UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
    ASSERT_TRUE(sandbox.ready());
    TestHttpServer server;
    ASSERT_TRUE(server.started());
    server.Serve("/delta.zip", {200, delta});
    server.Serve("/delta.zip.sig", {200, testsign::SignWithTestKey(delta)});
    server.Serve("/full.zip", {200, full});
    server.Serve("/keys/full.sig", {200, goodSignature ? testsign::SignWithTestKey(full)
                                                       : testsign::SignWithOtherKey(full)});
    auto process = sandbox.Start(
        L"-silent -url " + ui::Widen(server.Url("/delta.zip")) + L" -dest \"" + sandbox.target() +
        L"\" -log \"" + SignedLog(sandbox) + L"\" -full " + ui::Widen(server.Url("/full.zip")) +
        L" -fullsig " + ui::Widen(server.Url("/keys/full.sig")));
    ASSERT_TRUE(process->WaitExit(kTimeoutMs));
    EXPECT_EQ(process->exitCode(), goodSignature ? 0u : 3u);
    const std::vector<std::string> requests = {"/delta.zip", "/delta.zip.sig", "/full.zip",
                                               "/keys/full.sig"};
    EXPECT_EQ(server.RequestPaths(), requests);
    const std::string log = ReadFileBytes(SignedLog(sandbox));
    EXPECT_NE(log.find("signature " + server.Url("/keys/full.sig") +
                       (goodSignature ? ": good" : ": refused")),
              std::string::npos)
        << log;
    EXPECT_EQ(
        GetFileAttributesW((sandbox.folder() + L"\\readme.txt").c_str()) != INVALID_FILE_ATTRIBUTES,
        goodSignature);
    ExpectNothingLeft(sandbox);
  }
}
