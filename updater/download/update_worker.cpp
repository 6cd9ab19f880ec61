#include "updater/download/update_worker.h"

#include "framework/message_box.h"
#include "framework/thread.h"
#include "framework/win_app.h"
#include "framework/wnd.h"
#include "updater/app/updater_app.h"
#include "updater/download/archive_name.h"
#include "updater/download/update_run.h"
#include "updater/download/update_status.h"

volatile LONG g_updatePhase = kPhaseDownload;

namespace {

CUpdaterApp* App() {
  return static_cast<CUpdaterApp*>(AfxGetApp());
}

// The steps of a run, in order.
typedef StepOutcome (*UpdateStep)(CUpdateRun& run);
const UpdateStep kUpdateSteps[] = {DownloadStep, VerifyStep, WaitForProgramStep, InstallStep};

// Every end of a run goes through here: the log, the box that says why it
// failed, then the application learns the outcome (the exit code) and the
// window hears of the end.
void EndRun(CWnd* window, const StepOutcome& outcome) {
  if (!outcome.message.IsEmpty()) AfxMessageBox(outcome.message, MB_OK);
  App()->SetWorkerOutcome(outcome.code);
  PostMessageA(window->m_hWnd, WM_UPDATE_STATUS,
               outcome.code == kExitUpdated ? kUpdateFinished : kUpdateFailed, 0);
}

}  // namespace

CUpdateRun::CUpdateRun(HWND window)
    : m_window(window),
      m_waitProcess(App()->m_waitProcess),
      m_waitPid(App()->m_waitPid),
      m_log(App()->m_log) {
  // Start-up has refused a folder that leaves no room for the run's files;
  // whatever the answer, m_folder is never a parent reached through a path
  // cut short.
  GetUpdaterFolder(&m_folder);
  m_archivePath = DownloadArchivePath(m_folder, GetTickCount());
  m_url = App()->m_url;
  m_sig = App()->m_sig;
  m_full = App()->m_full;
  m_fullSig = App()->m_fullSig;
  m_allowDowngrade = App()->m_allowDowngrade;
}

bool CUpdateRun::SwitchToFullArchive() {
  if (!m_fullArchiveNext || m_full.IsEmpty()) return false;
  m_fullArchiveNext = false;
  m_url = m_full;
  m_sig = m_fullSig;
  m_full.Empty();  // once
  m_archivePath = DownloadArchivePath(m_folder, GetTickCount());
  return true;
}

UINT __cdecl UpdateWorker(LPVOID pParam) {
  CWnd* window = static_cast<CWnd*>(pParam);
  CUpdateRun run(window->m_hWnd);
  StepOutcome outcome;
  do {
    for (UpdateStep step : kUpdateSteps) {
      outcome = step(run);
      if (!outcome.logLine.IsEmpty()) run.m_log.Write("%s", outcome.logLine.GetString());
      if (!outcome.GoesOn()) break;
    }
  } while (outcome.GoesOn() && run.SwitchToFullArchive());
  // Cancelled before anything was written: the window and the process are
  // ending; nothing more is said.
  if (!outcome.windowGone) EndRun(window, outcome);
  return 0;
}

bool StartUpdateWorker(CWnd* window) {
  CWinThread* worker =
      AfxBeginThread(UpdateWorker, window, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
  if (worker == nullptr) {
    AfxMessageBox("Couldn't create worker thread!", MB_ICONSTOP);
    return false;
  }
  g_abortDownload = 0;
  g_updatePhase = kPhaseDownload;
  worker->ResumeThread();  // the record belongs to the thread from here on
  return true;
}
