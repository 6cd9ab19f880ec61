// Where the signature of an update archive is fetched from.
#ifndef UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_
#define UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_

#include "framework/cstring.h"

// The -sig address when one was given; otherwise archiveUrl with ".sig"
// appended to its path, before any "?query" or "#fragment":
// "http://h/u.zip?v=3" gives "http://h/u.zip.sig?v=3". Empty when the path
// is empty or ends with '/' ("http://h?v=3", "http://h/dir/"): the
// signature's address must then be given with -sig.
CString SignatureUrl(const CString& archiveUrl, const CString& sigOption);

// The temporary file the signature is downloaded to: beside the archive,
// "<archive path>.sig".
CString SignatureFilePath(const CString& archivePath);

#endif  // UPDATER_DOWNLOAD_SIGNATURE_ADDRESS_H_
