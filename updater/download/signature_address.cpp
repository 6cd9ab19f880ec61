#include "updater/download/signature_address.h"

#include <cstring>

CString SignatureUrl(const CString& archiveUrl, const CString& sigOption) {
  if (!sigOption.IsEmpty()) return sigOption;
  const char* text = archiveUrl.GetString();
  const size_t pathEnd = std::strcspn(text, "?#");
  // The path begins after "scheme://host"; an address without "://" before
  // its query is path throughout.
  size_t pathStart = 0;
  const char* scheme = std::strstr(text, "://");
  if (scheme != nullptr && static_cast<size_t>(scheme - text) < pathEnd) {
    const size_t host = static_cast<size_t>(scheme - text) + 3;
    pathStart = host + std::strcspn(text + host, "/?#");
  }
  // ".sig" after a host or a folder would name another host or nothing.
  if (pathEnd <= pathStart || text[pathEnd - 1] == '/') return CString();
  CString url = archiveUrl;
  url.Insert(static_cast<int>(pathEnd), ".sig");
  return url;
}

CString SignatureFilePath(const CString& archivePath) {
  return archivePath + ".sig";
}
