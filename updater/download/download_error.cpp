#include "updater/download/download_error.h"

#include <wininet.h>

#include "updater/download/download_policy.h"

namespace {

const char kNotTrusted[] = "The server's certificate is not trusted";

struct CKnownError {
  DWORD error;
  bool mayPass;
  const char* text;
};

// WinINet's errors, and the socket errors it passes on unchanged under some
// platforms, that a user meets most.
const CKnownError kKnownErrors[] = {
    {ERROR_INTERNET_TIMEOUT, true, "The server did not answer in time."},
    {WSAETIMEDOUT, true, "The server did not answer in time."},
    {ERROR_INTERNET_CANNOT_CONNECT, true,
     "The server refused the connection or cannot be reached."},
    {WSAECONNREFUSED, true, "The server refused the connection."},
    {ERROR_INTERNET_CONNECTION_ABORTED, true, "The connection to the server was lost."},
    {ERROR_INTERNET_CONNECTION_RESET, true, "The connection to the server was lost."},
    {WSAECONNRESET, true, "The connection to the server was lost."},
    {WSAECONNABORTED, true, "The connection to the server was lost."},
    {ERROR_INTERNET_DISCONNECTED, true, "This computer is not connected to a network."},
    {ERROR_INTERNET_SERVER_UNREACHABLE, true, "The server cannot be reached."},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, true, "The server's answer is not valid HTTP."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, false, "The server's name could not be resolved."},
    {ERROR_INTERNET_INVALID_URL, false, "The address is not a valid web address."},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, false, "The address is not an http or https address."},
    {ERROR_INTERNET_INVALID_CA, false, "The server's certificate is not trusted."},
    {ERROR_INTERNET_SEC_INVALID_CERT, false, "The server's certificate is not trusted."},
    {ERROR_INTERNET_SEC_CERT_ERRORS, false, "The server's certificate is not trusted."},
    // What an unknown issuer gives under Wine as well.
    {ERROR_INTERNET_SEC_CERT_REV_FAILED, false,
     "The server's certificate is not trusted: its issuer or its revocation could not be "
     "checked."},
    {ERROR_INTERNET_SEC_CERT_NO_REV, false,
     "The server's certificate is not trusted: its revocation could not be checked."},
    {ERROR_INTERNET_SEC_CERT_REVOKED, false,
     "The server's certificate is not trusted: it has been revoked."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, false,
     "The server's certificate is not trusted: it was issued for another name."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, false,
     "The server's certificate is not trusted: it has expired or is not valid yet."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, false,
     "No secure connection to the server could be made."},
    {ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, false,
     "The server redirected the secure address to an insecure one."},
    {ERROR_HTTP_REDIRECT_FAILED, false, "The server's redirection could not be followed."},
};

}  // namespace

CTryFailure InternetCallFailure(DWORD error, bool serverReached) {
  CTryFailure failure;
  failure.result = HRESULT_FROM_WIN32(error);
  for (const CKnownError& known : kKnownErrors) {
    if (known.error != error) continue;
    failure.mayPass = known.mayPass || (error == ERROR_INTERNET_NAME_NOT_RESOLVED && serverReached);
    failure.reason = known.text;
    return failure;
  }
  failure.reason = SystemErrorText(error);
  return failure;
}

CTryFailure HttpStatusFailure(unsigned status, const char* reasonPhrase) {
  const int kMaxPhrase = 60;
  char phrase[kMaxPhrase + 1];
  int length = 0;
  for (const char* p = reasonPhrase; *p != '\0' && length < kMaxPhrase; ++p) {
    if (*p >= ' ' && *p <= '~') phrase[length++] = *p;
  }
  phrase[length] = '\0';

  CTryFailure failure;
  failure.result = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_HTTP, status & 0xFFFF);
  failure.mayPass = ClassifyHttpStatus(status) == HttpStatusKind::kRetry;
  failure.reason.Format("The server answered %u%s%s.", status, length > 0 ? " " : "", phrase);
  return failure;
}

CString DownloadFailureMessage(HRESULT result, const char* reason) {
  CString message;
  message.Format("Download failed.  Error = 0x%08lX\n\n%s", static_cast<unsigned long>(result),
                 reason);
  return message;
}

CString SystemErrorText(DWORD error) {
  // WinINet's errors have their texts in its own module.
  const bool internet = error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST;
  HMODULE wininet = internet ? GetModuleHandleA("wininet.dll") : nullptr;
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                    (wininet != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0),
                                wininet, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<char*>(&text), 0, nullptr);
  CString result = length != 0 && text != nullptr ? CString(text) : CString();
  if (text != nullptr) LocalFree(text);
  result.TrimRight();
  return result.IsEmpty() ? CString("No message available.") : result;
}
