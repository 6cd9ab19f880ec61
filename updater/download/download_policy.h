// The rules a download follows from one try to the next: which answers are
// worth another try and how long to wait before it, and whether a server's
// answer to a resumed request continues the bytes already on disk. No
// platform calls: the headers come in as the server sent them.
#ifndef UPDATER_DOWNLOAD_DOWNLOAD_POLICY_H_
#define UPDATER_DOWNLOAD_DOWNLOAD_POLICY_H_

#include <cstdint>

// Tries per download, the first one included.
const int kDownloadTries = 5;

// The wait after failedTries failed tries: firstWaitMs, doubled after each
// further one (1, 2, 4, 8 s for a first wait of 1 s).
uint32_t RetryWaitMs(int failedTries, uint32_t firstWaitMs);

enum class HttpStatusKind {
  kSuccess,  // 200 (the whole file) and 206 (the part asked for)
  kRetry,    // may pass: 408, 429 and every 5xx
  kFail,     // will not pass: every other status
};
HttpStatusKind ClassifyHttpStatus(unsigned status);

// A decimal byte count as in Content-Length: digits only, at most 18 of
// them. False for anything else (a sign, a space, an empty text).
bool ParseByteCount(const char* text, uint64_t* value);

// Retry-After in its delta-seconds form ("120"). False for the HTTP-date
// form and for anything that is not a number of seconds.
bool ParseRetryAfter(const char* text, uint32_t* seconds);

const uint64_t kUnknownTotal = UINT64_MAX;

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*": kUnknownTotal). False unless
// the text has exactly that form with first <= last < total.
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = kUnknownTotal;
};
bool ParseContentRange(const char* text, ContentRange* range);

// A validator If-Range may carry: a strong entity tag ("..."), not a weak
// one (W/"...").
bool IsStrongEntityTag(const char* etag);

// What a successful answer means for the bytes on disk.
enum class AnswerUse {
  kStartOver,  // 200: the whole file; whatever is on disk is replaced
  kAppend,     // 206 continuing exactly where the file on disk ends
  kMismatch,   // 206 for another part or another size: nothing of it is used
};
// status is 200 or 206. have: the bytes on disk that the request asked to
// continue (0: the whole file was asked for). knownTotal: the file's size
// as an earlier answer gave it, or kUnknownTotal. contentRange: the
// header's value, or null when the answer had none.
AnswerUse UseOfAnswer(unsigned status, uint64_t have, uint64_t knownTotal,
                      const char* contentRange);

#endif  // UPDATER_DOWNLOAD_DOWNLOAD_POLICY_H_
