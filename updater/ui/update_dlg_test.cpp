// The progress dialog of the real updater.exe, driven from outside as a
// user (and, for the worker's codes, as the worker) would: its template,
// how it shows percentages, the reboot notice, and the ways to close it.
#include <winsock2.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/http_server.h"
#include "testing/ui_driver.h"
#include "testing/updater_sandbox.h"

namespace {

const DWORD kTimeoutMs = 20000;
const UINT kUpdateStatus = 1987;

// "正在更新....", "取消", "宋体"
const wchar_t kCaption[] = L"\x6B63\x5728\x66F4\x65B0....";
const wchar_t kCancelText[] = L"\x53D6\x6D88";
const wchar_t kFontName[] = L"\x5B8B\x4F53";
const wchar_t kStatusText[] = L"\x6B63\x5728\x4E0B\x8F7D...";  // "正在下载..."
const UINT kUpdateRetry = 1988;
// "连接中断，正在重试（第 2 次，共 5 次）…": connection lost, trying again (2 of 5)
const wchar_t kRetryText[] =
    L"\x8FDE\x63A5\x4E2D\x65AD\xFF0C\x6B63\x5728\x91CD\x8BD5\xFF08\x7B2C 2 \x6B21\xFF0C\x5171 5 "
    L"\x6B21\xFF09\x2026";

// Accepts connections (through the listen backlog) and never answers, so
// the updater's download waits and sends no progress of its own.
class SilentListener {
 public:
  SilentListener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(m_socket, 4) == 0 &&
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
  }
  ~SilentListener() {
    closesocket(m_socket);
    WSACleanup();
  }
  std::wstring Url() const {
    return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/update.zip";
  }
  bool started() const { return m_port != 0; }

 private:
  SOCKET m_socket = INVALID_SOCKET;
  int m_port = 0;
};

// The updater running in a sandbox with its dialog up.
struct RunningDialog {
  UpdaterSandbox sandbox{UPDATER_EXE, MARKER_TARGET_EXE};
  std::unique_ptr<ui::Process> process;
  HWND dialog = nullptr;

  explicit RunningDialog(const std::wstring& url) {
    if (!sandbox.ready()) return;
    process = sandbox.Start(L"-url " + url + L" -dest \"" + sandbox.target() + L"\"");
    auto found = WaitForProgressDialog(process->id(), kTimeoutMs);
    if (found) dialog = found->hwnd;
  }
};

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam = 0) {
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer);
  return static_cast<LRESULT>(answer);
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// A hidden copy of dialog 102 made in this process from the updater's own
// resources, for the base units of its font.
HWND CreateTemplateCopy(std::vector<BYTE> bytes) {
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  if (bytes.size() < 16) return nullptr;
  // DLGTEMPLATEEX: the style follows dlgVer, signature, helpID, exStyle.
  DWORD style;
  memcpy(&style, &bytes[12], sizeof(style));
  style &= ~static_cast<DWORD>(WS_VISIBLE);
  memcpy(&bytes[12], &style, sizeof(style));
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                    reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr,
                                    IdleDialogProc, 0);
}

// Dialog 102 as the resource holds it (an extended template).
struct TemplateItem {
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::wstring className;  // ordinals 0x80 / 0x82 as "Button" / "Static"
  std::wstring text;
};
struct DialogTemplate {
  bool extended = false;
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring caption;
  WORD pointSize = 0;
  std::wstring typeface;
  std::vector<TemplateItem> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}
  template <typename T>
  T Read() {
    T value{};
    if (m_at + sizeof(T) <= m_bytes.size()) memcpy(&value, &m_bytes[m_at], sizeof(T));
    m_at += sizeof(T);
    return value;
  }
  std::wstring ReadString() {
    std::wstring text;
    for (wchar_t c = Read<wchar_t>(); c != 0 && m_at <= m_bytes.size(); c = Read<wchar_t>())
      text += c;
    return text;
  }
  // A string or, after 0xFFFF, an ordinal.
  std::wstring ReadNameOrOrdinal() {
    if (Peek() != 0xFFFF) return ReadString();
    Read<WORD>();
    WORD ordinal = Read<WORD>();
    if (ordinal == 0x80) return L"Button";
    if (ordinal == 0x82) return L"Static";
    return L"#" + std::to_wstring(ordinal);
  }
  void AlignToDword() { m_at = (m_at + 3) & ~static_cast<size_t>(3); }

 private:
  WORD Peek() const {
    WORD value = 0;
    if (m_at + 2 <= m_bytes.size()) memcpy(&value, &m_bytes[m_at], 2);
    return value;
  }
  const std::vector<BYTE>& m_bytes;
  size_t m_at = 0;
};

DialogTemplate ParseTemplate(const std::vector<BYTE>& bytes) {
  DialogTemplate dlg;
  TemplateReader in(bytes);
  dlg.extended = in.Read<WORD>() == 1 && in.Read<WORD>() == 0xFFFF;
  if (!dlg.extended) return dlg;
  in.Read<DWORD>();  // help id
  in.Read<DWORD>();  // extended style
  dlg.style = in.Read<DWORD>();
  WORD count = in.Read<WORD>();
  dlg.x = in.Read<short>();
  dlg.y = in.Read<short>();
  dlg.cx = in.Read<short>();
  dlg.cy = in.Read<short>();
  in.ReadNameOrOrdinal();  // menu
  in.ReadNameOrOrdinal();  // class
  dlg.caption = in.ReadString();
  if (dlg.style & DS_SETFONT) {
    dlg.pointSize = in.Read<WORD>();
    in.Read<WORD>();  // weight
    in.Read<WORD>();  // italic, charset
    dlg.typeface = in.ReadString();
  }
  for (WORD i = 0; i < count; ++i) {
    in.AlignToDword();
    TemplateItem item;
    in.Read<DWORD>();  // help id
    in.Read<DWORD>();  // extended style
    item.style = in.Read<DWORD>();
    item.x = in.Read<short>();
    item.y = in.Read<short>();
    item.cx = in.Read<short>();
    item.cy = in.Read<short>();
    item.id = in.Read<DWORD>();
    item.className = in.ReadNameOrOrdinal();
    item.text = in.ReadNameOrOrdinal();
    WORD extra = in.Read<WORD>();
    for (WORD b = 0; b < extra; ++b) in.Read<BYTE>();
    dlg.items.push_back(item);
  }
  return dlg;
}

std::vector<BYTE> LoadTemplate(const std::wstring& exe) {
  std::vector<BYTE> bytes;
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return bytes;
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(5));
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  if (loaded != nullptr) {
    const BYTE* first = static_cast<const BYTE*>(LockResource(loaded));
    bytes.assign(first, first + SizeofResource(module, resource));
  }
  FreeLibrary(module);
  return bytes;
}

// Position and size are converted apart, as the dialog manager does.
void ExpectRect(const RECT& actual, int x, int y, int width, int height, HWND unitsOf) {
  RECT mapped = {x, y, width, height};
  ASSERT_TRUE(MapDialogRect(unitsOf, &mapped));
  EXPECT_EQ(actual.left, mapped.left);
  EXPECT_EQ(actual.top, mapped.top);
  EXPECT_EQ(actual.right - actual.left, mapped.right);
  EXPECT_EQ(actual.bottom - actual.top, mapped.bottom);
}

// Icon group 128 of the program: one image, 32 x 32 at 32 bits per pixel.
void ExpectApplicationIcon(const std::wstring& exe) {
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14));
  ASSERT_NE(group, nullptr);
  const BYTE* header = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
  // GRPICONDIR: reserved, type, count; then 14-byte entries: width, height,
  // colours, reserved, planes, bit count, ...
  EXPECT_EQ(header[4] | header[5] << 8, 1);
  EXPECT_EQ(header[6], 32);
  EXPECT_EQ(header[7], 32);
  EXPECT_EQ(header[12] | header[13] << 8, 32);
  FreeLibrary(module);
}

}  // namespace

// The resources of the program as built: dialog 102 item by item, the
// icon and the version.
TEST(UpdateDlgTest, ResourcesHoldTheTemplateIconAndVersion) {
  UpdaterSandbox sandbox(UPDATER_EXE, MARKER_TARGET_EXE);
  ASSERT_TRUE(sandbox.ready());
  DialogTemplate dlg = ParseTemplate(LoadTemplate(sandbox.updater()));
  ASSERT_TRUE(dlg.extended);
  EXPECT_EQ(dlg.style & ~static_cast<DWORD>(DS_SETFONT),
            static_cast<DWORD>(DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(dlg.caption, kCaption);
  EXPECT_EQ(std::vector<int>({dlg.x, dlg.y, dlg.cx, dlg.cy}), std::vector<int>({0, 0, 192, 63}));
  EXPECT_EQ(dlg.pointSize, 9);
  EXPECT_EQ(dlg.typeface, kFontName);

  const DWORD child = WS_CHILD | WS_VISIBLE;
  const struct {
    DWORD id;
    const wchar_t* className;
    const wchar_t* text;
    std::vector<int> rect;
    DWORD style;
  } table[] = {
      {IDCANCEL, L"Button", kCancelText, {70, 42, 50, 14}, child | WS_TABSTOP | BS_PUSHBUTTON},
      {1001, L"Static", kStatusText, {7, 7, 178, 8}, child | WS_GROUP | SS_LEFT},
      {1000, L"msctls_progress32", L"Progress1", {7, 22, 178, 14}, child | WS_BORDER},
  };
  ASSERT_EQ(dlg.items.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const TemplateItem& item = dlg.items[i];
    EXPECT_EQ(item.id, table[i].id);
    EXPECT_EQ(_wcsicmp(item.className.c_str(), table[i].className), 0);  // any case
    EXPECT_EQ(item.text, table[i].text);
    EXPECT_EQ(std::vector<int>({item.x, item.y, item.cx, item.cy}), table[i].rect);
    EXPECT_EQ(item.style, table[i].style);
  }

  ExpectApplicationIcon(sandbox.updater());

  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(sandbox.updater().c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> version(size);
  ASSERT_TRUE(GetFileVersionInfoW(sandbox.updater().c_str(), 0, size, version.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], 0x0409);
  wchar_t* internalName = nullptr;
  ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904b0\\InternalName",
                             reinterpret_cast<void**>(&internalName), &length));
  EXPECT_STREQ(internalName, L"Updater");
}

// The running window: its texts, and its geometry in the base units of
// the template's font.
TEST(UpdateDlgTest, ShowsTheTemplateWithAnEmptyStatusLine) {
  SilentListener server;
  ASSERT_TRUE(server.started());
  RunningDialog run(server.Url());
  ASSERT_NE(run.dialog, nullptr);

  ui::WindowInfo dialog = ui::Describe(run.dialog);
  EXPECT_EQ(dialog.caption, kCaption);
  const DWORD dialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  EXPECT_EQ(dialog.style & dialogStyle, dialogStyle);
  EXPECT_EQ(dialog.owner, nullptr);

  HWND units = CreateTemplateCopy(LoadTemplate(run.sandbox.updater()));
  ASSERT_NE(units, nullptr);
  RECT client;
  GetClientRect(run.dialog, &client);
  ExpectRect(client, 0, 0, 192, 63, units);
  const struct {
    int id;
    const wchar_t* className;
    int x, y, width, height;
  } items[] = {
      {IDCANCEL, L"Button", 70, 42, 50, 14},
      {1001, L"Static", 7, 7, 178, 8},
      {1000, L"msctls_progress32", 7, 22, 178, 14},
  };
  EXPECT_EQ(ui::Controls(run.dialog).size(), 3u);
  for (const auto& item : items) {
    SCOPED_TRACE(item.id);
    auto control = ui::FindControl(run.dialog, item.id);
    ASSERT_TRUE(control.has_value());
    EXPECT_EQ(_wcsicmp(control->className.c_str(), item.className), 0);
    ExpectRect(control->rect, item.x, item.y, item.width, item.height, units);
  }
  DestroyWindow(units);

  EXPECT_EQ(ui::WindowText(GetDlgItem(run.dialog, IDCANCEL)), kCancelText);
  // Before any progress the status line is empty, not the template's text;
  // a connection report may already have put 0% there.
  std::wstring status = ui::WindowText(GetDlgItem(run.dialog, 1001));
  EXPECT_TRUE(status.empty() || status == L"Download Status: 0% Complete") << ui::Narrow(status);
  EXPECT_EQ(ui::WindowText(GetDlgItem(run.dialog, 1000)), L"Progress1");
  HWND bar = GetDlgItem(run.dialog, 1000);
  EXPECT_EQ(Send(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(Send(bar, PBM_GETRANGE, FALSE, 0), 100);
}

TEST(UpdateDlgTest, StatusLineAndBarShowEachPercentageAndEachRetry) {
  SilentListener server;
  ASSERT_TRUE(server.started());
  RunningDialog run(server.Url());
  ASSERT_NE(run.dialog, nullptr);
  HWND status = GetDlgItem(run.dialog, 1001);
  HWND bar = GetDlgItem(run.dialog, 1000);
  const struct {
    int percent;
    int bar;
  } cases[] = {{0, 0}, {37, 37}, {100, 100}, {150, 100}, {5, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    const std::wstring expected = L"Download Status: " + std::to_wstring(c.percent) + L"% Complete";
    // The worker's own connection reports (0%) may land between our message
    // and the read-back; send again until a read-back shows ours alone.
    std::wstring shown;
    LRESULT position = -1;
    for (DWORD start = GetTickCount(); GetTickCount() - start < kTimeoutMs; Sleep(100)) {
      EXPECT_EQ(Send(run.dialog, kUpdateStatus, static_cast<WPARAM>(c.percent), 0), 0);
      shown = ui::WindowText(status);
      position = Send(bar, PBM_GETPOS, 0, 0);
      if (shown == expected && position == c.bar) break;
    }
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(position, c.bar);
  }
  // Another try coming: the status line says so, in Chinese; the bar stays.
  EXPECT_EQ(Send(run.dialog, kUpdateRetry, 2, 5), 0);
  EXPECT_EQ(ui::WindowText(status), kRetryText);
  EXPECT_EQ(Send(bar, PBM_GETPOS, 0, 0), 5);
  EXPECT_TRUE(run.process->running());
}

TEST(UpdateDlgTest, RebootNoticeEndsTheRunWithoutOpeningTheTarget) {
  SilentListener server;
  ASSERT_TRUE(server.started());
  RunningDialog run(server.Url());
  ASSERT_NE(run.dialog, nullptr);
  PostMessageW(run.dialog, kUpdateStatus, static_cast<WPARAM>(-3), 0);
  auto box = WaitForMessageBox(run.process->id(), kTimeoutMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(ui::MessageBoxText(box->hwnd), L"Please reboot to complete the updation process");
  EXPECT_EQ(box->caption, L"updater");
  EXPECT_EQ(box->owner, run.dialog);
  EXPECT_EQ(ui::ButtonIds(box->hwnd), std::vector<int>{IDOK});
  EXPECT_FALSE(ui::HasIcon(box->hwnd));
  ASSERT_TRUE(ui::Press(box->hwnd, IDOK));
  EXPECT_TRUE(run.process->WaitExit(kTimeoutMs));
  EXPECT_FALSE(run.sandbox.WaitTargetStarted(500));
}

// Cancel, Escape, Enter and the close box during a slow download: the
// process ends at once, without a message and without opening the target.
// "At once" is measured against the download, which would take 100 s; how
// fast a process ends under Wine depends on the machine's load.
TEST(UpdateDlgTest, EveryWayOutEndsTheProcessAtOnce) {
  TestHttpServer server;
  ASSERT_TRUE(server.started());
  TestHttpResponse slow;
  slow.body = std::string(2000000, 'x');
  slow.bytesPerSecond = 20000;
  server.Serve("/update.zip", slow);
  const std::wstring url = ui::Widen(server.Url("/update.zip"));

  const struct {
    const char* name;
    void (*act)(HWND dialog);
  } ways[] = {
      {"Cancel button", [](HWND d) { ui::Press(d, IDCANCEL); }},
      {"Escape", [](HWND d) { PostMessageW(GetDlgItem(d, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"Enter", [](HWND d) { PostMessageW(GetDlgItem(d, IDCANCEL), WM_KEYDOWN, VK_RETURN, 0); }},
      {"close box", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    RunningDialog run(url);
    ASSERT_NE(run.dialog, nullptr);
    // Wait until the download is visibly under way.
    HWND bar = GetDlgItem(run.dialog, 1000);
    DWORD start = GetTickCount();
    while (Send(bar, PBM_GETPOS, 0, 0) < 1 && GetTickCount() - start < kTimeoutMs) Sleep(20);
    ASSERT_GE(Send(bar, PBM_GETPOS, 0, 0), 1);
    ASSERT_LT(Send(bar, PBM_GETPOS, 0, 0), 100);

    DWORD pressed = GetTickCount();
    way.act(run.dialog);
    bool shownBox = false;
    while (run.process->running() && GetTickCount() - pressed < kTimeoutMs) {
      shownBox = shownBox || CountMessageBoxes(run.process->id()) > 0;
      Sleep(10);
    }
    EXPECT_FALSE(run.process->running());
    EXPECT_FALSE(shownBox);
    EXPECT_FALSE(run.sandbox.WaitTargetStarted(300));
  }
}
