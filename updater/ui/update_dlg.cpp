#include "updater/ui/update_dlg.h"

#include <shlwapi.h>

#include "framework/data_exchange.h"
#include "framework/message_box.h"
#include "framework/paint_dc.h"
#include "updater/app/updater_app.h"
#include "updater/download/update_status.h"
#include "updater/download/update_worker.h"

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
ON_MESSAGE(WM_UPDATE_RETRY, OnUpdateRetry)
ON_MESSAGE(WM_UPDATE_NOTICE, OnUpdateNotice)
END_MESSAGE_MAP()

BOOL CUpdateDlg::OnInitDialog() {
  // Shows the empty status line in place of the template's text.
  CDialog::OnInitDialog();

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_progress.SetRange(0, 100);

  StartUpdateWorker(this);  // on failure the dialog stays until cancelled
  return TRUE;
}

// The user's way out; the worker's failure ends through CDialog::OnCancel.
void CUpdateDlg::OnCancel() {
  // During the download the dialog ends at once, and the process with it.
  // Once files are being written (or the worker waits for the program to
  // close), the worker is asked to stop (staging, waits) or left to end
  // (commit), and the dialog ends on its final message.
  const LONG phase = InterlockedCompareExchange(&g_updatePhase, kPhaseCancelled, kPhaseDownload);
  if (phase == kPhaseDownload || phase == kPhaseCancelled) {
    static_cast<CUpdaterApp*>(AfxGetApp())->OnUpdateCancelled();
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
  CUpdaterApp* app = static_cast<CUpdaterApp*>(AfxGetApp());
  const INT_PTR code = static_cast<INT_PTR>(wParam);
  if (m_cancelPending && (code == static_cast<INT_PTR>(kUpdateFailed) ||
                          code == static_cast<INT_PTR>(kUpdateFinished))) {
    // Cancelled while files were written: the worker has ended; nothing
    // more is shown or opened.
    app->OnUpdateCancelled();
    app->OnUpdateEnded(wParam);
    CDialog::OnCancel();
    return 0;
  }
  switch (code) {
    case static_cast<INT_PTR>(kUpdateFailed):
      app->OnUpdateEnded(wParam);
      MessageBox("Error Occured while Downloading");
      CDialog::OnCancel();
      break;
    case static_cast<INT_PTR>(kUpdateFinished):
      app->OnUpdateEnded(wParam);  // opens the target, answering meanwhile
      CDialog::OnOK();
      break;
    case static_cast<INT_PTR>(kUpdateReboot):
      app->OnUpdateEnded(wParam);
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

LRESULT CUpdateDlg::OnUpdateRetry(WPARAM wParam, LPARAM lParam) {
  // "连接中断，正在重试（第 %d 次，共 %d 次）…": "Connection lost, trying
  // again (%d of %d)…". The window keeps the Chinese only through the W calls.
  wchar_t text[64];
  wnsprintfW(text, 64,
             L"\x8FDE\x63A5\x4E2D\x65AD\xFF0C\x6B63\x5728\x91CD\x8BD5\xFF08\x7B2C %d "
             L"\x6B21\xFF0C\x5171 %d \x6B21\xFF09\x2026",
             static_cast<int>(wParam), static_cast<int>(lParam));
  ::SetDlgItemTextW(m_hWnd, IDC_STATUS, text);
  return 0;
}

LRESULT CUpdateDlg::OnUpdateNotice(WPARAM, LPARAM lParam) {
  ::SetDlgItemTextW(m_hWnd, IDC_STATUS, reinterpret_cast<const wchar_t*>(lParam));
  return 0;
}
