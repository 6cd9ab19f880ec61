#include "updater/download/download_policy.h"

#include <cstring>

namespace {

const int kMaxDigits = 18;  // below 10^18: no overflow in uint64_t

// Reads the digits at *text (at least one, at most kMaxDigits) and moves
// *text past them.
bool ReadNumber(const char** text, uint64_t* value) {
  uint64_t number = 0;
  int digits = 0;
  for (const char* p = *text; *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (digits == kMaxDigits) return false;
    number = number * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (digits == 0) return false;
  *text += digits;
  *value = number;
  return true;
}

}  // namespace

uint32_t RetryWaitMs(int failedTries, uint32_t firstWaitMs) {
  uint64_t wait = firstWaitMs;
  for (int i = 1; i < failedTries && wait < UINT32_MAX; ++i) wait *= 2;
  return wait < UINT32_MAX ? static_cast<uint32_t>(wait) : UINT32_MAX;
}

HttpStatusKind ClassifyHttpStatus(unsigned status) {
  if (status == 200 || status == 206) return HttpStatusKind::kSuccess;
  if (status == 408 || status == 429 || (status >= 500 && status <= 599)) {
    return HttpStatusKind::kRetry;
  }
  return HttpStatusKind::kFail;
}

bool ParseByteCount(const char* text, uint64_t* value) {
  return ReadNumber(&text, value) && *text == '\0';
}

bool ParseRetryAfter(const char* text, uint32_t* seconds) {
  uint64_t value = 0;
  if (!ParseByteCount(text, &value)) return false;
  *seconds = value < UINT32_MAX ? static_cast<uint32_t>(value) : UINT32_MAX;
  return true;
}

bool ParseContentRange(const char* text, ContentRange* range) {
  const char kUnit[] = "bytes ";
  if (std::strncmp(text, kUnit, sizeof(kUnit) - 1) != 0) return false;
  text += sizeof(kUnit) - 1;
  ContentRange parsed;
  if (!ReadNumber(&text, &parsed.first) || *text++ != '-') return false;
  if (!ReadNumber(&text, &parsed.last) || *text++ != '/') return false;
  if (text[0] == '*' && text[1] == '\0') {
    parsed.total = kUnknownTotal;
  } else if (!ParseByteCount(text, &parsed.total) || parsed.last >= parsed.total) {
    return false;
  }
  if (parsed.first > parsed.last) return false;
  *range = parsed;
  return true;
}

bool IsStrongEntityTag(const char* etag) {
  const size_t length = std::strlen(etag);
  return length >= 2 && etag[0] == '"' && etag[length - 1] == '"';
}

AnswerUse UseOfAnswer(unsigned status, uint64_t have, uint64_t knownTotal,
                      const char* contentRange) {
  if (status == 200) return AnswerUse::kStartOver;
  ContentRange range;
  if (status != 206 || have == 0 || contentRange == nullptr ||
      !ParseContentRange(contentRange, &range) || range.first != have) {
    return AnswerUse::kMismatch;
  }
  // The rest of the file, up to its end, of the size known so far.
  if (range.total == kUnknownTotal) {
    return knownTotal == kUnknownTotal ? AnswerUse::kAppend : AnswerUse::kMismatch;
  }
  if (range.last + 1 != range.total) return AnswerUse::kMismatch;
  if (knownTotal != kUnknownTotal && knownTotal != range.total) return AnswerUse::kMismatch;
  return AnswerUse::kAppend;
}
