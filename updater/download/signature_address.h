// Where the signature of an update archive is fetched from.
#ifndef UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_
#define UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_

#include "framework/cstring.h"

// The -sig address when one was given; otherwise archiveUrl with ".sig"
// appended to its path, before any "?query" or "#fragment":
// "http://h/u.zip?v=3" gives "http://h/u.zip.sig?v=3".
CString SignatureUrl(const CString& archiveUrl, const CString& sigOption);

// The temporary file the signature is downloaded to: beside the archive,
// "<archive path>.sig".
CString SignatureFilePath(const CString& archivePath);

#endif  // UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_
