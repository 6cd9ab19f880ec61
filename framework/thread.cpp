#include "framework/thread.h"

#include <process.h>

CWinThread::~CWinThread() {
  if (m_hThread != nullptr) CloseHandle(m_hThread);
}

unsigned __stdcall CWinThread::Start(void* self) {
  CWinThread* thread = static_cast<CWinThread*>(self);
  UINT code = thread->m_proc(thread->m_param);
  delete thread;
  return code;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES security) {
  CWinThread* thread = new CWinThread(proc, param);
  unsigned id = 0;
  uintptr_t handle = _beginthreadex(security, stackSize, &CWinThread::Start, thread,
                                    createFlags | CREATE_SUSPENDED, &id);
  if (handle == 0) {
    delete thread;
    return nullptr;
  }
  thread->m_hThread = reinterpret_cast<HANDLE>(handle);
  thread->m_nThreadID = id;
  SetThreadPriority(thread->m_hThread, priority);
  if ((createFlags & CREATE_SUSPENDED) == 0) ::ResumeThread(thread->m_hThread);
  return thread;
}
