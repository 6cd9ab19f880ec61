// The verify step: the archive against the publisher's signature.
#include "updater/download/publisher_key.h"
#include "updater/download/signature_address.h"
#include "updater/download/update_run.h"

StepOutcome VerifyStep(CUpdateRun& run) {
  // Nothing is written unless the publisher signed these very bytes; the
  // archive stays locked against change until it is unpacked.
  const CString signatureUrl = SignatureUrl(run.m_url, run.m_sig);
  if (!run.m_signedArchive.Verify(run.m_archivePath, signatureUrl, &run.m_log)) {
    return StepFailed(kExitArchiveRefused, "signature " + signatureUrl + ": refused",
                      "Update refused.  The archive is not signed by the publisher.");
  }
  if (kPublisherKeyPem[0] == '\0') return StepDone();
  return StepDone("signature " + signatureUrl + ": good");
}
