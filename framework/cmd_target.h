// CCmdTarget and message maps: each class lists the messages it handles in
// a static table; dispatch walks the tables from the most derived class to
// its bases and calls the first matching handler.
#ifndef FRAMEWORK_CMD_TARGET_H_
#define FRAMEWORK_CMD_TARGET_H_

#include <windows.h>

class CCmdTarget;
typedef void (CCmdTarget::*AFX_PMSG)();

// One handler of any of the supported shapes; which member is live is told
// by the entry's signature.
union AfxHandler {
  AFX_PMSG vv;
  LRESULT (CCmdTarget::*lwl)(WPARAM, LPARAM);
  HCURSOR (CCmdTarget::*hv)();
  void (CCmdTarget::*vw)(UINT_PTR);
  constexpr AfxHandler() : vv(nullptr) {}
  constexpr AfxHandler(AFX_PMSG p) : vv(p) {}                              // NOLINT
  constexpr AfxHandler(LRESULT (CCmdTarget::*p)(WPARAM, LPARAM)) : lwl(p) {}  // NOLINT
  constexpr AfxHandler(HCURSOR (CCmdTarget::*p)()) : hv(p) {}              // NOLINT
  constexpr AfxHandler(void (CCmdTarget::*p)(UINT_PTR)) : vw(p) {}         // NOLINT
};

// How a handler is called.
enum AfxSig : UINT {
  AfxSig_end = 0,
  AfxSig_vv,     // void (void): commands, WM_PAINT
  AfxSig_lwl,    // LRESULT (WPARAM, LPARAM): ON_MESSAGE
  AfxSig_hv,     // HCURSOR (void): WM_QUERYDRAGICON
  AfxSig_vw,     // void (UINT_PTR): WM_TIMER
};

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // window message, WM_COMMAND for commands
  UINT nID;       // command id (WM_COMMAND only)
  UINT nSig;      // an AfxSig
  AfxHandler pfn;  // handler; nSig tells its shape
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  // Looks message (and, for WM_COMMAND, the id in LOWORD(wParam)) up in the
  // message maps; when a handler is found, calls it, stores its answer in
  // *result and answers TRUE.
  BOOL DispatchMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

#define DECLARE_MESSAGE_MAP()                      \
 protected:                                        \
  static const AFX_MSGMAP* GetThisMessageMap();    \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                   \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                               \
    typedef theClass ThisClass;                                                   \
    typedef baseClass TheBaseClass;                                               \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                         \
  {0, 0, AfxSig_end, AfxHandler()}                                                     \
  }                                                                               \
  ;                                                                               \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                             \
  }

#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, static_cast<UINT>(id), AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::memberFxn)},
#define ON_MESSAGE(message, memberFxn)                          \
  {static_cast<UINT>(message), 0, AfxSig_lwl,                   \
   static_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(&ThisClass::memberFxn)},
#define ON_WM_PAINT() \
  {WM_PAINT, 0, AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::OnPaint)},
#define ON_WM_QUERYDRAGICON()        \
  {WM_QUERYDRAGICON, 0, AfxSig_hv,   \
   static_cast<HCURSOR (CCmdTarget::*)()>(&ThisClass::OnQueryDragIcon)},
#define ON_WM_TIMER()         \
  {WM_TIMER, 0, AfxSig_vw,    \
   static_cast<void (CCmdTarget::*)(UINT_PTR)>(&ThisClass::OnTimer)},

#endif  // FRAMEWORK_CMD_TARGET_H_
