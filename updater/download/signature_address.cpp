#include "updater/download/signature_address.h"

#include <cstring>

CString SignatureUrl(const CString& archiveUrl, const CString& sigOption) {
  if (!sigOption.IsEmpty()) return sigOption;
  CString url = archiveUrl;
  const char* text = url.GetString();
  const size_t pathEnd = std::strcspn(text, "?#");
  url.Insert(static_cast<int>(pathEnd), ".sig");
  return url;
}

CString SignatureFilePath(const CString& archivePath) {
  return archivePath + ".sig";
}
