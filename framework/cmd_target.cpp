#include "framework/cmd_target.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, AfxSig_end, AfxHandler()}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CCmdTarget::DispatchMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
       map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
      if (e->nMessage != message || e->nID != id) continue;
      LRESULT answer = 0;
      switch (e->nSig) {
        case AfxSig_vv:
          (this->*e->pfn.vv)();
          break;
        case AfxSig_lwl:
          answer = (this->*e->pfn.lwl)(wParam, lParam);
          break;
        case AfxSig_hv:
          answer = reinterpret_cast<LRESULT>((this->*e->pfn.hv)());
          break;
        case AfxSig_vw:
          (this->*e->pfn.vw)(static_cast<UINT_PTR>(wParam));
          break;
        default:
          continue;
      }
      if (result) *result = answer;
      return TRUE;
    }
  }
  return FALSE;
}
