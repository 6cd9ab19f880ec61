// CUpdaterApp: the updater's application object. InitInstance is the whole
// life of the program: it checks the command line, keeps the address and
// the target, and runs the progress dialog.
#ifndef UPDATER_APP_UPDATER_APP_H_
#define UPDATER_APP_UPDATER_APP_H_

#include "framework/win_app.h"
#include "updater/install/update_lock.h"

class CUpdaterApp : public CWinApp {
 public:
  CUpdaterApp();

  // Always answers FALSE: the program ends when the dialog (or the refusal
  // message) is closed.
  BOOL InitInstance() override;

  // Written once by InitInstance before the dialog exists; read-only after.
  CString m_url;   // first value of -url: where the update archive is
  CString m_dest;  // first value of -dest: what to open after the update
  CString m_sig;   // first value of -sig, if any: where the archive's signature is

  // The folder's update lock, held from the start to the end of the process.
  CUpdateLock m_updateLock;

  DECLARE_MESSAGE_MAP()
};

#endif  // UPDATER_APP_UPDATER_APP_H_
