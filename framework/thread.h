// AfxBeginThread: starts a worker thread running a plain procedure.
#ifndef FRAMEWORK_THREAD_H_
#define FRAMEWORK_THREAD_H_

#include <windows.h>

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

// The framework's record of a running thread. Owned by the thread itself:
// it is deleted when the procedure returns, so after ResumeThread the
// creator must not touch it again.
class CWinThread {
 public:
  CWinThread(AFX_THREADPROC proc, LPVOID param) : m_proc(proc), m_param(param) {}
  ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  DWORD ResumeThread() { return ::ResumeThread(m_hThread); }

  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;

 private:
  friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD,
                                    LPSECURITY_ATTRIBUTES);
  static unsigned __stdcall Start(void* self);

  AFX_THREADPROC m_proc;
  LPVOID m_param;
};

// Creates the thread (suspended when createFlags holds CREATE_SUSPENDED)
// and answers its record, or null when it cannot be created.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param,
                           int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);

#endif  // FRAMEWORK_THREAD_H_
