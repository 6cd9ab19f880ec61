// CUpdateLock: one update at a time per folder. The lock is a named kernel
// object made from the folder's path, so it is released whenever the process
// ends, killed or not, and a second updater in the same folder sees it taken.
#ifndef UPDATER_INSTALL_UPDATE_LOCK_H_
#define UPDATER_INSTALL_UPDATE_LOCK_H_

class CUpdateLock {
 public:
  CUpdateLock() = default;
  ~CUpdateLock();
  CUpdateLock(const CUpdateLock&) = delete;
  CUpdateLock& operator=(const CUpdateLock&) = delete;

  // Takes the lock of folder for the life of this object. False when another
  // process holds it (or it cannot be made). folder: NUL-terminated.
  bool Acquire(const char* folder);

 private:
  void* m_handle = nullptr;
};

#endif  // UPDATER_INSTALL_UPDATE_LOCK_H_
