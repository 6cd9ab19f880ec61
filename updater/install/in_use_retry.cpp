#include "updater/install/in_use_retry.h"

MoveResult CInUseRetry::Move(const CString& from, const CString& to) {
  MoveResult result;
  while ((result = m_fs.Move(from, to)) == MoveResult::kInUse && m_wait && m_wait(from)) {
  }
  return result;
}
