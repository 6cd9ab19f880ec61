#include "updater/ui/update_dlg.h"

#include <objbase.h>
#include <shellapi.h>

#include "framework/data_exchange.h"
#include "framework/message_box.h"
#include "framework/paint_dc.h"
#include "framework/thread.h"
#include "updater/app/updater_app.h"
#include "updater/download/update_status.h"
#include "updater/download/update_worker.h"

namespace {

// The shell's open can take seconds: under Wine it waits for the started
// program to come up. It runs on a thread of its own so that the window
// keeps answering meanwhile.
DWORD WINAPI OpenTarget(LPVOID param) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ShellExecuteA(nullptr, "open", *static_cast<const CString*>(param), nullptr, nullptr, SW_SHOW);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

}  // namespace

CUpdateDlg::CUpdateDlg(CWnd* parent) : CDialog(CUpdateDlg::IDD, parent), m_status("") {
  m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

void CUpdateDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_PROGRESS1, m_progress);
  DDX_Text(dx, IDC_STATUS, m_status);
}

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_TIMER()
ON_MESSAGE(WM_UPDATE_STATUS, OnUpdateStatus)
END_MESSAGE_MAP()

BOOL CUpdateDlg::OnInitDialog() {
  // Shows the empty status line in place of the template's text.
  CDialog::OnInitDialog();

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_progress.SetRange(0, 100);

  CWinThread* worker =
      AfxBeginThread(UpdateWorker, this, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
  if (worker != nullptr) {
    g_abortDownload = 0;
    g_updatePhase = kPhaseDownload;
    worker->ResumeThread();  // the record belongs to the thread from here on
  } else {
    AfxMessageBox("Couldn't create worker thread!", MB_ICONSTOP);
  }
  return TRUE;
}

void CUpdateDlg::OnCancel() {
  // During the download the dialog ends at once, and the process with it.
  // Once files are being written, the worker is asked to stop (staging) or
  // left to end (commit), and the dialog ends on its final message.
  const LONG phase = InterlockedCompareExchange(&g_updatePhase, kPhaseCancelled, kPhaseDownload);
  if (phase == kPhaseDownload || phase == kPhaseCancelled) {
    CDialog::OnCancel();
    return;
  }
  g_abortDownload = 1;
  m_cancelPending = true;
}

void CUpdateDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  int iconWidth = GetSystemMetrics(SM_CXICON);
  int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(&client);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon() {
  return static_cast<HCURSOR>(m_hIcon);
}

void CUpdateDlg::OnTimer(UINT_PTR) {
  Default();
}

LRESULT CUpdateDlg::OnUpdateStatus(WPARAM wParam, LPARAM) {
  const INT_PTR code = static_cast<INT_PTR>(wParam);
  if (m_cancelPending && (code == static_cast<INT_PTR>(kUpdateFailed) ||
                          code == static_cast<INT_PTR>(kUpdateFinished))) {
    // Cancelled while files were written: the worker has ended; nothing
    // more is shown or opened.
    CDialog::OnCancel();
    return 0;
  }
  switch (code) {
    case static_cast<INT_PTR>(kUpdateFailed):
      MessageBox("Error Occured while Downloading");
      CDialog::OnCancel();
      break;
    case static_cast<INT_PTR>(kUpdateFinished): {
      CUpdaterApp* app = static_cast<CUpdaterApp*>(AfxGetApp());
      CString target = "\"" + app->m_dest + "\"";
      HANDLE opener = CreateThread(nullptr, 0, OpenTarget, &target, 0, nullptr);
      if (opener == nullptr) {
        OpenTarget(&target);
      } else {
        // Cancel meanwhile only marks the run cancelled: the update is done.
        while (MsgWaitForMultipleObjects(1, &opener, FALSE, INFINITE, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1) {
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (IsDialogMessageW(m_hWnd, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
          }
        }
        CloseHandle(opener);
      }
      CDialog::OnOK();
      break;
    }
    case static_cast<INT_PTR>(kUpdateReboot):
      MessageBox("Please reboot to complete the updation process");
      CDialog::OnOK();
      break;
    default: {
      int percent = static_cast<int>(static_cast<INT_PTR>(wParam));
      m_status.Format("Download Status: %d%% Complete", percent);
      m_progress.SetPos(percent);
      UpdateData(FALSE);
      break;
    }
  }
  return 0;
}
