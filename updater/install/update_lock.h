// CUpdateLock: one update at a time per folder. The lock is a named kernel
// object made from the folder's identity (its volume's serial number and its
// file ID), so every spelling of the folder finds the same lock, it is
// released whenever the process ends, killed or not, and it leaves nothing
// in the folder.
#ifndef UPDATER_INSTALL_UPDATE_LOCK_H_
#define UPDATER_INSTALL_UPDATE_LOCK_H_

enum class LockResult {
  kTaken,        // this object holds the lock
  kBusy,         // another process holds it
  kUnavailable,  // the folder could not be identified or the lock not made
};

class CUpdateLock {
 public:
  CUpdateLock() = default;
  ~CUpdateLock();
  CUpdateLock(const CUpdateLock&) = delete;
  CUpdateLock& operator=(const CUpdateLock&) = delete;

  // Takes the lock of folder (an existing directory, NUL-terminated) for
  // the life of this object.
  LockResult Acquire(const char* folder);
  // Lets go of the lock before the process ends (for a second start of the
  // updater that is to take it). Idempotent.
  void Release();

 private:
  void* m_handle = nullptr;
};

#endif  // UPDATER_INSTALL_UPDATE_LOCK_H_
