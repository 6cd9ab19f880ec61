#include "updater/download/download_error.h"

#include <wininet.h>

#include "framework/text_format.h"
#include "updater/download/download_policy.h"

namespace {

struct CKnownError {
  DWORD error;
  bool mayPass;
  // For a certificate: what is wrong with it, or "" (then only that it is
  // not trusted); otherwise the whole sentence.
  const char* text;
  bool certificate;
};

// WinINet's errors that a user meets most, and the socket errors it passes
// on unchanged under some platforms.
const CKnownError kKnownErrors[] = {
    {ERROR_INTERNET_TIMEOUT, true, "The server did not answer in time.", false},
    {WSAETIMEDOUT, true, "The server did not answer in time.", false},
    {ERROR_INTERNET_CANNOT_CONNECT, true, "The server refused the connection or cannot be reached.",
     false},
    {WSAECONNREFUSED, true, "The server refused the connection.", false},
    {ERROR_INTERNET_CONNECTION_ABORTED, true, "The connection to the server was lost.", false},
    {ERROR_INTERNET_CONNECTION_RESET, true, "The connection to the server was lost.", false},
    {WSAECONNRESET, true, "The connection to the server was lost.", false},
    {WSAECONNABORTED, true, "The connection to the server was lost.", false},
    {ERROR_INTERNET_DISCONNECTED, true, "This computer is not connected to a network.", false},
    {ERROR_INTERNET_SERVER_UNREACHABLE, true, "The server cannot be reached.", false},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, true, "The server's answer is not valid HTTP.", false},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, false, "The server's name could not be resolved.", false},
    {ERROR_INTERNET_INVALID_URL, false, "The address is not a valid web address.", false},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, false, "The address is not an http or https address.",
     false},
    {ERROR_INTERNET_INVALID_CA, false, "", true},
    {ERROR_INTERNET_SEC_INVALID_CERT, false, "", true},
    {ERROR_INTERNET_SEC_CERT_ERRORS, false, "", true},
    // What an unknown issuer gives under Wine as well.
    {ERROR_INTERNET_SEC_CERT_REV_FAILED, false, "its issuer or its revocation could not be checked",
     true},
    {ERROR_INTERNET_SEC_CERT_NO_REV, false, "its revocation could not be checked", true},
    {ERROR_INTERNET_SEC_CERT_REVOKED, false, "it has been revoked", true},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, false, "it was issued for another name", true},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, false, "it has expired or is not valid yet", true},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, false,
     "No secure connection to the server could be made.", false},
    {ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, false,
     "The server redirected the secure address to an insecure one.", false},
    {ERROR_HTTP_REDIRECT_FAILED, false, "The server's redirection could not be followed.", false},
};

}  // namespace

CTryFailure InternetCallFailure(DWORD error, bool serverReached) {
  CTryFailure failure;
  failure.result = HRESULT_FROM_WIN32(error);
  for (const CKnownError& known : kKnownErrors) {
    if (known.error != error) continue;
    failure.mayPass = known.mayPass || (error == ERROR_INTERNET_NAME_NOT_RESOLVED && serverReached);
    if (!known.certificate) {
      FormatText(failure.reason, kReasonSize, "%s", known.text);
    } else {
      FormatText(failure.reason, kReasonSize, "The server's certificate is not trusted%s%s.",
                 known.text[0] != '\0' ? ": " : "", known.text);
    }
    return failure;
  }
  SystemErrorText(error, failure.reason, kReasonSize);
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
  FormatText(failure.reason, kReasonSize, "The server answered %u%s%s.", status,
             length > 0 ? " " : "", phrase);
  return failure;
}

CString DownloadFailureMessage(HRESULT result, const char* reason) {
  CString message;
  message.Format("Download failed.  Error = 0x%08lX\n\n%s", static_cast<unsigned long>(result),
                 reason);
  return message;
}

void SystemErrorText(DWORD error, char* out, int size) {
  // WinINet's errors have their texts in its own module.
  const bool internet = error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST;
  HMODULE wininet = internet ? GetModuleHandleA("wininet.dll") : nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    (wininet != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0),
                                wininet, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), out,
                                static_cast<DWORD>(size), nullptr);
  while (length > 0 &&
         (out[length - 1] == '\r' || out[length - 1] == '\n' || out[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) FormatText(out, static_cast<size_t>(size), "No message available.");
  if (length > 0) out[length] = '\0';
}
