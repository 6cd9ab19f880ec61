#include "framework/module_state.h"

namespace {

// One thread-local slot per module that links the framework, held from the
// module's static initialisation to its static destruction, so that loading
// and unloading a library leaves no slot behind. Plain Win32 TLS keeps the
// module free of the C++ runtime's thread machinery.
class CThreadStateSlot {
 public:
  CThreadStateSlot() : m_index(TlsAlloc()) {}
  ~CThreadStateSlot() {
    if (m_index != TLS_OUT_OF_INDEXES) TlsFree(m_index);
  }
  CThreadStateSlot(const CThreadStateSlot&) = delete;
  CThreadStateSlot& operator=(const CThreadStateSlot&) = delete;

  CModuleState* Get() const {
    if (m_index == TLS_OUT_OF_INDEXES) return nullptr;
    return static_cast<CModuleState*>(TlsGetValue(m_index));
  }
  // Without a slot (the process ran out of them) the thread simply stays
  // with the process's own state.
  void Set(CModuleState* state) {
    if (m_index != TLS_OUT_OF_INDEXES) TlsSetValue(m_index, state);
  }

 private:
  DWORD m_index;
};

CThreadStateSlot g_currentState;
CModuleState g_processState(nullptr);

}  // namespace

CModuleState::CModuleState(HINSTANCE instance) noexcept
    : m_hInstance(instance != nullptr ? instance : GetModuleHandleA(nullptr)),
      m_hResource(m_hInstance) {}

CModuleState* AfxGetModuleState() noexcept {
  CModuleState* state = g_currentState.Get();
  return state != nullptr ? state : &g_processState;
}

CModuleState* AfxSetModuleState(CModuleState* state) noexcept {
  CModuleState* previous = g_currentState.Get();
  g_currentState.Set(state);
  return previous;
}
