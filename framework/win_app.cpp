#include "framework/win_app.h"

#include <mbctype.h>

namespace {
CWinApp* g_app = nullptr;

// The executable's file name without folder and extension.
CString ModuleBaseName(HINSTANCE instance) {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return CString("app");
  CString name(path);
  int slash = name.ReverseFind('\\');
  if (slash >= 0) name = name.Mid(slash + 1);
  int dot = name.ReverseFind('.');
  if (dot > 0) name = name.Left(dot);
  return name;
}
}  // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* appName) : m_appName(appName) {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
  return TRUE;
}

int CWinApp::ExitInstance() {
  return m_nExitCode;
}

int CWinApp::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return ExitInstance();
}

void CWinApp::OnHelp() {}

int CWinApp::DoMessageBox(const char* prompt, UINT type, UINT helpId) {
  (void)helpId;
  CWnd* main = m_pMainWnd;
  HWND owner = main ? main->m_hWnd : nullptr;
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  return MessageBoxA(owner, prompt, m_appName.GetString(), type);
}

HICON CWinApp::LoadIcon(UINT id) const {
  HINSTANCE instance = m_hInstance ? m_hInstance : GetModuleHandleW(nullptr);
  return ::LoadIconW(instance, MAKEINTRESOURCEW(id));
}

CWinApp* AfxGetApp() {
  return g_app;
}

CWnd* AfxGetMainWnd() {
  return g_app ? g_app->m_pMainWnd : nullptr;
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  // Multibyte string functions step over the double-byte characters of the
  // system's ANSI code page.
  _setmbcp(_MB_CP_ANSI);
  app->m_hInstance = instance;
  if (app->m_appName.IsEmpty()) app->m_appName = ModuleBaseName(instance);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
