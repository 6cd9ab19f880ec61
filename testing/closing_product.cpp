// closing_product: a stand-in for a product that is still closing when the
// updater starts. "closing_product MS" ends after MS milliseconds. It has no
// window. Tests start it suspended, so that its time begins when they let
// it run.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  Sleep(static_cast<DWORD>(std::strtoul(commandLine, nullptr, 10)));
  return 0;
}
