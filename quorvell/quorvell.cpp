// quorvell.dll: the hook the product's uninstaller loads by name and calls.
// Its only export is ExportedFunction (ordinal 1, see quorvell.def).
#include <windows.h>

#include <optional>

#include "framework/module_state.h"

namespace {
// The library's own framework state, alive from load to unload.
std::optional<CModuleState> g_moduleState;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      g_moduleState.emplace(instance);
      break;
    case DLL_PROCESS_DETACH:
      g_moduleState.reset();
      break;
  }
  return TRUE;
}

// Called by the uninstaller; always answers 1. Touches no shared data, so
// any thread may call it at any time while the library is loaded.
extern "C" int __cdecl ExportedFunction(void) {
  CManageModuleState manageState(&*g_moduleState);
  return 1;
}
