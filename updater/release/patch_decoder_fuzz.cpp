// libFuzzer target: hostile patches. The input is a base and a frame: its
// first two bytes give the base's length (little-endian, cut to what is
// there), then the base, then the frame. The record line wants the base's
// true hash and the size the frame declares (at most 1 MiB, so that runs
// stay fast), and a result hash no frame can give, so that every run
// decodes as far as the frame goes and must refuse. The sink checks that it
// never receives more than the record's size.
#include <cstddef>
#include <cstdint>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameContentSize
#include <zstd.h>

#include "updater/release/patch_decoder.h"

namespace {

const uint64_t kMaxFuzzedResult = 1 << 20;

class CBoundedSink : public CPatchSink {
 public:
  explicit CBoundedSink(uint64_t limit) : m_limit(limit) {}
  bool Write(const unsigned char*, size_t size) override {
    m_received += size;
    if (m_received > m_limit) __builtin_trap();
    return true;
  }

 private:
  uint64_t m_limit;
  uint64_t m_received = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t baseSize = data[0] | (static_cast<size_t>(data[1]) << 8);
  if (baseSize > size - 2) baseSize = size - 2;
  const uint8_t* base = data + 2;
  const uint8_t* frame = base + baseSize;
  const size_t frameSize = size - 2 - baseSize;

  ReleaseFile file;
  file.action = ReleaseAction::kPatch;
  file.hasBase = file.hasResult = true;
  if (!Sha256Of(base, baseSize, &file.base)) return 0;
  const unsigned long long declared = ZSTD_getFrameContentSize(frame, frameSize);
  file.size = declared <= kMaxFuzzedResult ? declared : 0;
  for (unsigned char& byte : file.result.bytes) byte = 0xA5;

  CPatchMemorySource source(frame, frameSize);
  CBoundedSink sink(file.size);
  if (ApplyPatch(base, baseSize, source, sink, file) == PatchResult::kApplied) __builtin_trap();
  return 0;
}
