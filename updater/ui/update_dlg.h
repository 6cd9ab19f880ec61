// CUpdateDlg: the updater's progress window and main window. It starts the
// update worker, shows its progress, and carries out the end of the update:
// opens the target after success, reports a failed download, and closes.
#ifndef UPDATER_UI_UPDATE_DLG_H_
#define UPDATER_UI_UPDATE_DLG_H_

#include "framework/cstring.h"
#include "framework/dialog.h"
#include "framework/progress_ctrl.h"
#include "updater/res/resource.h"

class CUpdateDlg : public CDialog {
 public:
  explicit CUpdateDlg(CWnd* parent = nullptr);

  enum { IDD = IDD_UPDATER_DIALOG };

  CProgressCtrl m_progress;  // item IDC_PROGRESS1
  CString m_status;          // text of item IDC_STATUS

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnCancel() override;

  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnTimer(UINT_PTR id);
  // WM_UPDATE_STATUS: wParam is a percentage or one of the worker's final
  // codes (update_status.h). Answers 0.
  LRESULT OnUpdateStatus(WPARAM wParam, LPARAM lParam);
  // WM_UPDATE_RETRY: the status line says that the connection was lost and
  // which try (wParam) of how many (lParam) comes next; the bar stays where
  // it is. Answers 0.
  LRESULT OnUpdateRetry(WPARAM wParam, LPARAM lParam);
  // WM_UPDATE_NOTICE: the status line shows the worker's text (lParam) while
  // it waits for the product. Answers 0.
  LRESULT OnUpdateNotice(WPARAM wParam, LPARAM lParam);

  HICON m_hIcon;  // shared resource icon; not destroyed
  // Cancel was pressed while the worker wrote files; the dialog ends on the
  // worker's final message.
  bool m_cancelPending = false;

  DECLARE_MESSAGE_MAP()
};

#endif  // UPDATER_UI_UPDATE_DLG_H_
