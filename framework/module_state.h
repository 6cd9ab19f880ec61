// Per-module framework state. Every module that uses the framework (the
// program, or a library loaded into someone else's process) has one
// CModuleState; the state in force on a thread decides which module's
// resources and framework objects the framework resolves to.
//
// A library switches to its own state at the top of every exported function
// with a CManageModuleState, so that its work resolves to the library and not
// to the program that called it.
#ifndef FRAMEWORK_MODULE_STATE_H_
#define FRAMEWORK_MODULE_STATE_H_

#include <windows.h>

class CModuleState {
 public:
  // instance null: the process's executable.
  explicit CModuleState(HINSTANCE instance) noexcept;
  CModuleState(const CModuleState&) = delete;
  CModuleState& operator=(const CModuleState&) = delete;

  // The module this state belongs to.
  HINSTANCE m_hInstance;
  // The module whose resources are loaded; the module itself by default.
  HINSTANCE m_hResource;
};

// The state in force on the calling thread: the one set last by
// AfxSetModuleState, or the process's own state when none is set.
CModuleState* AfxGetModuleState() noexcept;

// Makes state the one in force on the calling thread (null: the process's
// own) and answers the previous one as set (null when none was set). The
// caller keeps ownership of state and must restore the previous one before
// state is destroyed.
CModuleState* AfxSetModuleState(CModuleState* state) noexcept;

// Module whose resources the calling thread loads.
inline HINSTANCE AfxGetResourceHandle() noexcept {
  return AfxGetModuleState()->m_hResource;
}

// Puts a module state in force for the lifetime of the object and restores
// the previous one when it goes out of scope. Lives on one thread's stack.
class CManageModuleState {
 public:
  explicit CManageModuleState(CModuleState* state) noexcept
      : m_previous(AfxSetModuleState(state)) {}
  ~CManageModuleState() { AfxSetModuleState(m_previous); }
  CManageModuleState(const CManageModuleState&) = delete;
  CManageModuleState& operator=(const CManageModuleState&) = delete;

 private:
  CModuleState* m_previous;
};

#endif  // FRAMEWORK_MODULE_STATE_H_
