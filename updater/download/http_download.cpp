#include "updater/download/http_download.h"

#include <shlwapi.h>
#include <wininet.h>

#include "framework/text_format.h"
#include "updater/app/update_log.h"
#include "updater/download/download_error.h"
#include "updater/download/download_policy.h"
#include "updater/download/download_status_callback.h"
#include "updater/download/update_status.h"
#include "updater/res/resource.h"

namespace {

const DWORD kTransferBufferSize = 16384;
// Progress goes to the reporter when the percentage changes, and at least
// this often while bytes arrive.
const DWORD kReportIntervalMs = 250;
// How often the wait between tries looks at the abort flag.
const DWORD kWaitSliceMs = 50;
// Room for a header read back (ETag, Last-Modified, Content-Range, ...); a
// longer one counts as absent.
const DWORD kHeaderSize = 256;
const char kUserAgent[] = "updater/" UPDATER_VERSION_TEXT;

class CInternetHandle {
 public:
  explicit CInternetHandle(HINTERNET handle) : m_handle(handle) {}
  ~CInternetHandle() {
    if (m_handle != nullptr) InternetCloseHandle(m_handle);
  }
  CInternetHandle(const CInternetHandle&) = delete;
  CInternetHandle& operator=(const CInternetHandle&) = delete;
  HINTERNET get() const { return m_handle; }

 private:
  HINTERNET m_handle;
};

// What a request is made of: the parts of an http or https address.
struct CAddress {
  char host[INTERNET_MAX_HOST_NAME_LENGTH];
  char user[INTERNET_MAX_USER_NAME_LENGTH];
  char password[INTERNET_MAX_PASSWORD_LENGTH];
  char object[INTERNET_MAX_URL_LENGTH];  // path and query, without a #fragment
  INTERNET_PORT port;
  bool secure;
};

// 0, or the WinINet error that makes url unusable.
DWORD CrackAddress(const char* url, CAddress* address) {
  char path[INTERNET_MAX_PATH_LENGTH];
  char extra[INTERNET_MAX_PATH_LENGTH];
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = address->host;
  parts.dwHostNameLength = sizeof(address->host);
  parts.lpszUserName = address->user;
  parts.dwUserNameLength = sizeof(address->user);
  parts.lpszPassword = address->password;
  parts.dwPasswordLength = sizeof(address->password);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof(extra);
  if (!InternetCrackUrlA(url, 0, 0, &parts)) {
    const DWORD error = GetLastError();
    return error == ERROR_INTERNET_UNRECOGNIZED_SCHEME ? error : ERROR_INTERNET_INVALID_URL;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  }
  int query = 0;
  while (extra[query] != '\0' && extra[query] != '#') ++query;
  const int length = FormatText(address->object, sizeof(address->object), "%s%.*s",
                                path[0] != '\0' ? path : "/", query, extra);
  if (address->host[0] == '\0' || length >= static_cast<int>(sizeof(address->object))) {
    return ERROR_INTERNET_INVALID_URL;
  }
  address->port = parts.nPort;
  address->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return 0;
}

// WinINet keeps a receive time-out only when it is set on the connection or
// the request before the request is sent.
void SetTimeouts(HINTERNET handle, DWORD milliseconds) {
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds));
  }
}

// The header's value into out (kHeaderSize bytes); false (and "") when the
// answer has none or a longer one.
bool QueryHeader(HINTERNET request, DWORD header, char* out) {
  DWORD length = kHeaderSize;
  DWORD index = 0;
  if (HttpQueryInfoA(request, header, out, &length, &index) && length < kHeaderSize) return true;
  out[0] = '\0';
  return false;
}

// One download: the file on disk, what is known of the resource, and the
// tries made so far.
class CDownload {
 public:
  CDownload(const char* path, CDownloadStatusCallback* reporter, CUpdateLog* log,
            const CDownloadTiming& timing)
      : m_path(path), m_reporter(reporter), m_log(log), m_timing(timing) {}
  ~CDownload() { CloseFile(); }
  CDownload(const CDownload&) = delete;
  CDownload& operator=(const CDownload&) = delete;

  CDownloadOutcome Run(const char* url);

 private:
  enum class TryEnd { kComplete, kFailed, kCancelled };

  TryEnd Try(HINTERNET session, const CAddress& address);
  // Reads the answer's body into the file; expected is its length or
  // kUnknownTotal.
  TryEnd Receive(HINTERNET request, uint64_t expected);
  TryEnd Fail(const CTryFailure& failure);
  TryEnd Fail(HRESULT result, bool mayPass, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  TryEnd FailWithFile(const char* what);
  // Empties the file: what follows starts at byte 0.
  bool StartOver();
  // False when there is not room for bytes more on the file's volume (then
  // the try has failed).
  bool RoomFor(uint64_t bytes);
  // False when the reporter asks to stop.
  bool Report(bool always);
  // False when the abort flag is set before ms have passed.
  bool Wait(DWORD ms);
  void CloseFile();

  const char* const m_path;
  CDownloadStatusCallback* const m_reporter;
  CUpdateLog* const m_log;
  const CDownloadTiming m_timing;

  HANDLE m_file = INVALID_HANDLE_VALUE;
  bool m_created = false;            // this download made the file at m_path
  uint64_t m_have = 0;               // bytes in the file
  uint64_t m_total = kUnknownTotal;  // the file's size, once an answer gave it
  // What If-Range sends to resume the file on disk; "": it cannot be.
  char m_validator[kHeaderSize] = "";
  bool m_serverReached = false;
  int m_try = 1;
  CTryFailure m_failure;     // why the last try failed
  DWORD m_retryAfterMs = 0;  // the server's wish for the next wait; 0: none
  int m_reportedPercent = -2;
  DWORD m_reportedAt = 0;
};

CDownloadOutcome CDownload::Run(const char* url) {
  CAddress address;
  const DWORD addressError = CrackAddress(url, &address);
  CInternetHandle session(
      addressError != 0
          ? nullptr
          : InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  TryEnd end = TryEnd::kFailed;
  if (addressError != 0) {
    Fail(InternetCallFailure(addressError, false));
  } else if (session.get() == nullptr) {
    Fail(InternetCallFailure(GetLastError(), false));
  } else {
    end = Try(session.get(), address);
  }

  while (end == TryEnd::kFailed) {
    const bool again = m_failure.mayPass && m_try < kDownloadTries;
    const DWORD wait =
        m_retryAfterMs != 0 ? m_retryAfterMs : RetryWaitMs(m_try, m_timing.firstRetryWaitMs);
    if (m_log != nullptr) {
      char next[48];
      FormatText(next, sizeof(next), "Next try in %lu.%03lu s.", wait / 1000, wait % 1000);
      m_log->Write("download try %d of %d failed: %s %s", m_try, kDownloadTries, m_failure.reason,
                   again               ? next
                   : m_failure.mayPass ? "That was the last try."
                                       : "Not tried again.");
    }
    if (!again) break;
    if (m_reporter != nullptr) m_reporter->OnRetry(m_try + 1, kDownloadTries);
    if (!Wait(wait)) {
      end = TryEnd::kCancelled;
      break;
    }
    m_retryAfterMs = 0;
    ++m_try;
    end = Try(session.get(), address);
  }

  CDownloadOutcome outcome;
  outcome.tries = m_try;
  CloseFile();
  if (end == TryEnd::kComplete) {
    outcome.exitCode = kExitUpdated;
    outcome.result = S_OK;
    outcome.bytes = m_have;
    return outcome;
  }
  if (m_created) DeleteFileA(m_path);
  if (end == TryEnd::kCancelled) {
    outcome.exitCode = kExitCancelled;
    outcome.result = E_ABORT;
    outcome.message = "Download cancelled.";
    return outcome;
  }
  char reason[kReasonSize + 32];
  FormatText(reason, sizeof(reason), m_try > 1 ? "%s  Tried %d times." : "%s", m_failure.reason,
             m_try);
  outcome.result = m_failure.result;
  outcome.message = DownloadFailureMessage(m_failure.result, reason);
  return outcome;
}

CDownload::TryEnd CDownload::Try(HINTERNET session, const CAddress& address) {
  CInternetHandle connection(InternetConnectA(
      session, address.host, address.port, address.user[0] != '\0' ? address.user : nullptr,
      address.password[0] != '\0' ? address.password : nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (connection.get() == nullptr)
    return Fail(InternetCallFailure(GetLastError(), m_serverReached));
  SetTimeouts(connection.get(), m_timing.stallMs);
  const char* acceptTypes[] = {"*/*", nullptr};
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_KEEP_CONNECTION |
                      INTERNET_FLAG_NO_UI | (address.secure ? INTERNET_FLAG_SECURE : 0);
  CInternetHandle request(HttpOpenRequestA(connection.get(), "GET", address.object, nullptr,
                                           nullptr, acceptTypes, flags, 0));
  if (request.get() == nullptr) return Fail(InternetCallFailure(GetLastError(), m_serverReached));
  SetTimeouts(request.get(), m_timing.stallMs);

  // Only the very file the bytes on disk came from may continue them.
  char number[kDecimal64Size], total[kDecimal64Size];
  if (m_have > 0 && m_validator[0] == '\0') {
    if (m_log != nullptr) {
      m_log->Write(
          "download try %d of %d: no ETag or Last-Modified to resume with; starting again "
          "from zero",
          m_try, kDownloadTries);
    }
    if (!StartOver()) return FailWithFile("emptied");
  }
  const uint64_t asked = m_have;
  char headers[kHeaderSize + 64] = "";
  if (asked > 0) {
    FormatText(headers, sizeof(headers), "Range: bytes=%s-\r\nIf-Range: %s\r\n",
               FormatDecimal64(asked, number), m_validator);
  }
  if (!HttpSendRequestA(request.get(), headers, static_cast<DWORD>(lstrlenA(headers)), nullptr,
                        0)) {
    return Fail(InternetCallFailure(GetLastError(), m_serverReached));
  }
  m_serverReached = true;

  DWORD status = 0;
  DWORD size = sizeof(status);
  DWORD index = 0;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                 &index);
  char header[kHeaderSize];
  char range[kHeaderSize];
  const bool hasRange = QueryHeader(request.get(), HTTP_QUERY_CONTENT_RANGE, range);
  // 416 to a resumed request: the file on disk is no beginning of the file
  // served now.
  const bool notSatisfiable = status == 416 && asked > 0;
  if (ClassifyHttpStatus(status) != HttpStatusKind::kSuccess && !notSatisfiable) {
    QueryHeader(request.get(), HTTP_QUERY_STATUS_TEXT, header);
    CTryFailure failure = HttpStatusFailure(status, header);
    uint32_t seconds = 0;
    if (failure.mayPass && QueryHeader(request.get(), HTTP_QUERY_RETRY_AFTER, header) &&
        ParseRetryAfter(header, &seconds)) {
      if (seconds <= m_timing.maxRetryAfterMs / 1000) {
        m_retryAfterMs = seconds * 1000;
      } else {
        failure.mayPass = false;
        const int length = lstrlenA(failure.reason);
        FormatText(failure.reason + length, static_cast<size_t>(kReasonSize - length),
                   "  It asks to be tried again in %lu s.", static_cast<unsigned long>(seconds));
      }
    }
    return Fail(failure);
  }

  // The file is made when the first answer with a body has come.
  if (m_file == INVALID_HANDLE_VALUE) {
    m_file = CreateFileA(m_path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return FailWithFile("created");
    m_created = true;
  }
  const AnswerUse use = notSatisfiable
                            ? AnswerUse::kMismatch
                            : UseOfAnswer(status, asked, m_total, hasRange ? range : nullptr);
  if (use == AnswerUse::kMismatch) {
    m_validator[0] = '\0';
    m_total = kUnknownTotal;
    if (!StartOver()) return FailWithFile("emptied");
    return Fail(HRESULT_FROM_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE), true,
                "The server's answer does not continue the file received so far.");
  }
  if (use == AnswerUse::kStartOver) {
    if (asked > 0 && m_log != nullptr) {
      m_log->Write(
          "download try %d of %d: the server sent the whole file (%lu), not the rest; "
          "starting again from zero",
          m_try, kDownloadTries, static_cast<unsigned long>(status));
    }
    if (!StartOver()) return FailWithFile("emptied");
    uint64_t length = 0;
    m_total = QueryHeader(request.get(), HTTP_QUERY_CONTENT_LENGTH, header) &&
                      ParseByteCount(header, &length)
                  ? length
                  : kUnknownTotal;
    if (!(QueryHeader(request.get(), HTTP_QUERY_ETAG, m_validator) &&
          IsStrongEntityTag(m_validator))) {
      QueryHeader(request.get(), HTTP_QUERY_LAST_MODIFIED, m_validator);
    }
  } else {
    ContentRange parsed;
    ParseContentRange(range, &parsed);
    m_total = parsed.total;
    if (m_log != nullptr) {
      m_log->Write("download try %d of %d: resuming at byte %s of %s", m_try, kDownloadTries,
                   FormatDecimal64(asked, number),
                   m_total == kUnknownTotal ? "an unknown size" : FormatDecimal64(m_total, total));
    }
  }
  const uint64_t expected = m_total == kUnknownTotal ? kUnknownTotal : m_total - m_have;
  if (expected != kUnknownTotal && !RoomFor(expected)) return TryEnd::kFailed;
  return Receive(request.get(), expected);
}

CDownload::TryEnd CDownload::Receive(HINTERNET request, uint64_t expected) {
  char buffer[kTransferBufferSize];
  uint64_t received = 0;
  if (!Report(true)) return TryEnd::kCancelled;
  for (;;) {
    DWORD available = 0;
    DWORD got = 0;
    // Waits for the next bytes, up to the stall limit.
    BOOL ok = InternetQueryDataAvailable(request, &available, 0, 0);
    if (ok && available == 0) break;  // the end of the answer
    if (ok) {
      ok = InternetReadFile(
          request, buffer, available < kTransferBufferSize ? available : kTransferBufferSize, &got);
    }
    if (!ok) {
      const DWORD error = GetLastError();
      if (error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT) {
        return Fail(HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT), true,
                    "No data arrived for %lu s; the connection counts as lost.",
                    m_timing.stallMs / 1000);
      }
      return Fail(InternetCallFailure(error, true));
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(m_file, buffer, got, &written, nullptr) || written != got) {
      return FailWithFile("written");
    }
    m_have += got;
    received += got;
    if (!Report(false)) return TryEnd::kCancelled;
  }
  // Some platforms report a connection closed early as the end of the body.
  if (expected != kUnknownTotal && received < expected) {
    char have[kDecimal64Size], total[kDecimal64Size];
    return Fail(HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED), true,
                "The connection was lost after %s of %s bytes.", FormatDecimal64(m_have, have),
                FormatDecimal64(m_total, total));
  }
  if (expected != kUnknownTotal && received > expected) {
    // More than announced: what is on disk is not the file.
    m_validator[0] = '\0';
    m_total = kUnknownTotal;
    StartOver();
    return Fail(HRESULT_FROM_WIN32(ERROR_HTTP_INVALID_SERVER_RESPONSE), true,
                "The server sent more bytes than it announced.");
  }
  if (m_total == kUnknownTotal) m_total = m_have;
  return Report(true) ? TryEnd::kComplete : TryEnd::kCancelled;
}

CDownload::TryEnd CDownload::Fail(const CTryFailure& failure) {
  m_failure = failure;
  return TryEnd::kFailed;
}

CDownload::TryEnd CDownload::Fail(HRESULT result, bool mayPass, const char* format, ...) {
  m_failure.result = result;
  m_failure.mayPass = mayPass;
  va_list args;
  va_start(args, format);
  FormatTextV(m_failure.reason, kReasonSize, format, args);
  va_end(args);
  return TryEnd::kFailed;
}

CDownload::TryEnd CDownload::FailWithFile(const char* what) {
  const DWORD error = GetLastError();
  char text[kReasonSize / 2];
  SystemErrorText(error, text, sizeof(text));
  return Fail(HRESULT_FROM_WIN32(error), false, "The file %.*s could not be %s: %s", MAX_PATH,
              m_path, what, text);
}

bool CDownload::StartOver() {
  m_have = 0;
  LARGE_INTEGER zero = {};
  return SetFilePointerEx(m_file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(m_file);
}

bool CDownload::RoomFor(uint64_t bytes) {
  // The folder, up to its last backslash (never the trail byte of a
  // double-byte character).
  char folder[MAX_PATH];
  int cut = 0;
  for (const char* p = m_path; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') cut = static_cast<int>(p - m_path) + 1;
  }
  ULARGE_INTEGER available = {};
  if (cut >= MAX_PATH || FormatText(folder, sizeof(folder), "%.*s", cut, m_path) < 0 ||
      !GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) || bytes <= available.QuadPart) {
    return true;  // a volume that does not say is given the benefit of the doubt
  }
  char needed[32], freeText[32];
  StrFormatByteSize64A(static_cast<LONGLONG>(bytes), needed, sizeof(needed));
  StrFormatByteSize64A(static_cast<LONGLONG>(available.QuadPart), freeText, sizeof(freeText));
  Fail(HRESULT_FROM_WIN32(ERROR_DISK_FULL), false,
       "Not enough disk space: the download needs %s more, and the disk of %s has %s free.", needed,
       folder, freeText);
  return false;
}

bool CDownload::Report(bool always) {
  if (m_reporter == nullptr) return true;
  const bool sized = m_total != kUnknownTotal && m_total != 0;
  const int percent =
      sized ? static_cast<int>(static_cast<double>(m_have) * 100.0 / static_cast<double>(m_total))
            : -1;
  const DWORD now = GetTickCount();
  if (!always && percent == m_reportedPercent && now - m_reportedAt < kReportIntervalMs) {
    return true;
  }
  m_reportedPercent = percent;
  m_reportedAt = now;
  // The reporter takes 32-bit amounts; larger ones are scaled alike.
  uint64_t progress = m_have;
  uint64_t total = sized ? m_total : 0;
  while (total > 0xFFFFFFFFu || progress > 0xFFFFFFFFu) {
    progress >>= 1;
    total >>= 1;
  }
  return SUCCEEDED(m_reporter->OnProgress(static_cast<ULONG>(progress), static_cast<ULONG>(total),
                                          BINDSTATUS_DOWNLOADINGDATA, nullptr));
}

bool CDownload::Wait(DWORD ms) {
  const DWORD start = GetTickCount();
  for (DWORD waited = 0; waited < ms && g_abortDownload == 0; waited = GetTickCount() - start) {
    Sleep(ms - waited < kWaitSliceMs ? ms - waited : kWaitSliceMs);
  }
  return g_abortDownload == 0;
}

void CDownload::CloseFile() {
  if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  m_file = INVALID_HANDLE_VALUE;
}

}  // namespace

CDownloadOutcome HttpDownload(const char* url, const char* path, CDownloadStatusCallback* reporter,
                              CUpdateLog* log, const CDownloadTiming& timing) {
  CDownload download(path, reporter, log, timing);
  return download.Run(url);
}
