// CDialog: a modal dialog made from a dialog template resource. The
// template's texts are kept as UTF-16 (the dialog is created with the
// wide-character calls), so they show the same on every code page.
#ifndef FRAMEWORK_DIALOG_H_
#define FRAMEWORK_DIALOG_H_

#include <windows.h>

#include "framework/wnd.h"

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr)
      : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

  // Creates the dialog, runs it until EndDialog and answers the value given
  // to EndDialog (-1 when the dialog cannot be created). m_hWnd is null
  // again afterwards.
  virtual INT_PTR DoModal();

  // Called once the dialog and its controls exist, before it is shown.
  // Copies the members into the controls; answers TRUE to let the system
  // put the focus on the first control.
  virtual BOOL OnInitDialog();
  // Enter / the IDOK command: takes the controls into the members and ends
  // the dialog with IDOK.
  virtual void OnOK();
  // Cancel button, Escape, the close box: ends the dialog with IDCANCEL.
  virtual void OnCancel();

  void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

 protected:
  // Messages no handler takes, and those whose handler calls Default(), get
  // the system's dialog handling.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool m_passToDefault = false;

  DECLARE_MESSAGE_MAP()
};

#endif  // FRAMEWORK_DIALOG_H_
