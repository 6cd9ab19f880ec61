// CDownloadStatusCallback: the progress reporter of a download (HttpDownload,
// or any IBindStatusCallback user). Each progress report becomes a
// percentage and a short status text, sent synchronously to the progress
// dialog as WM_UPDATE_STATUS; each retry becomes WM_UPDATE_RETRY.
//
// The object is not reference counted and hands out no interfaces: it lives
// on the worker's stack for the length of one download call. Its status
// texts are process-wide buffers, so only one download may report at a time.
#ifndef UPDATER_DOWNLOAD_DOWNLOAD_STATUS_CALLBACK_H_
#define UPDATER_DOWNLOAD_DOWNLOAD_STATUS_CALLBACK_H_

#include <windows.h>
#include <urlmon.h>

class CDownloadStatusCallback : public IBindStatusCallback {
 public:
  // notifyWnd receives every status message; it may be gone by then.
  explicit CDownloadStatusCallback(HWND notifyWnd) : m_hNotifyWnd(notifyWnd) {}
  CDownloadStatusCallback(const CDownloadStatusCallback&) = delete;
  CDownloadStatusCallback& operator=(const CDownloadStatusCallback&) = delete;

  // IUnknown: answers E_NOTIMPL and leaves *object untouched; the counts
  // are always 0.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback: only OnProgress works; the rest answer E_NOTIMPL.
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  // Answers E_ABORT at once while g_abortDownload is set; otherwise sends
  // the percentage (wParam) and the status text (lParam) and answers S_OK,
  // whether or not the window still exists. Runs on the downloading thread.
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                            STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // The download failed for now and tries again: sends WM_UPDATE_RETRY with
  // the coming try's number and the number of tries, synchronously. Runs on
  // the downloading thread.
  virtual void OnRetry(int nextTry, int tries);

  HWND m_hNotifyWnd;
};

#endif  // UPDATER_DOWNLOAD_DOWNLOAD_STATUS_CALLBACK_H_
