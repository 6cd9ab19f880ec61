#include "updater/download/download_status_callback.h"

#include <shlwapi.h>

#include <cstdint>
#include <limits>

#include "updater/download/update_status.h"

volatile LONG g_abortDownload = 0;

namespace {

const int kStatusBufferSize = 256;

// Process-wide, not per reporter: the dialog reads the status text while the
// reporter waits in SendMessageA, so nothing writes them during that read.
char s_received[kStatusBufferSize];
char s_total[kStatusBufferSize];
char s_status[kStatusBufferSize];

// progress * 100 / total (total nonzero), truncated toward zero; above 100
// when progress exceeds total. Double precision: amounts near 4 GiB times
// 100 do not fit 32 bits. In a 32-bit program a percentage past the largest
// LONG_PTR (only when far more arrives than announced) is that largest value.
LONG_PTR DownloadPercentage(ULONG progress, ULONG total) {
  double percent = static_cast<double>(static_cast<uint64_t>(progress)) * 100.0 /
                   static_cast<double>(static_cast<uint64_t>(total));
  const LONG_PTR largest = std::numeric_limits<LONG_PTR>::max();
  return percent >= static_cast<double>(largest) ? largest : static_cast<LONG_PTR>(percent);
}

}  // namespace

HRESULT CDownloadStatusCallback::QueryInterface(REFIID, void**) {
  return E_NOTIMPL;
}

ULONG CDownloadStatusCallback::AddRef() {
  return 0;
}

ULONG CDownloadStatusCallback::Release() {
  return 0;
}

HRESULT CDownloadStatusCallback::OnStartBinding(DWORD, IBinding*) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::GetPriority(LONG*) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::OnLowResource(DWORD) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
  if (g_abortDownload != 0) return E_ABORT;

  StrFormatByteSizeA(progress, s_received, kStatusBufferSize);
  StrFormatByteSizeA(progressMax, s_total, kStatusBufferSize);

  LONG_PTR percent = 0;
  if (progressMax != 0) {
    wnsprintfA(s_status, kStatusBufferSize, "Downloaded %s of %s", s_received, s_total);
    percent = DownloadPercentage(progress, progressMax);
  } else {
    wnsprintfA(s_status, kStatusBufferSize, "Downloaded %s (total size unknown)", s_received);
  }

  // A window that is gone makes this fail; the download goes on regardless.
  SendMessageA(m_hNotifyWnd, WM_UPDATE_STATUS, static_cast<WPARAM>(percent),
               reinterpret_cast<LPARAM>(s_status));
  return S_OK;
}

HRESULT CDownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

HRESULT CDownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) {
  return E_NOTIMPL;
}

void CDownloadStatusCallback::OnRetry(int nextTry, int tries) {
  SendMessageA(m_hNotifyWnd, WM_UPDATE_RETRY, static_cast<WPARAM>(nextTry),
               static_cast<LPARAM>(tries));
}
