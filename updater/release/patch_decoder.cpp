#include "updater/release/patch_decoder.h"

#include <cstring>
#include <memory>
#include <new>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>
#include <zstd_errors.h>

namespace {

const size_t kInputBufferSize = 1 << 16;
const size_t kOutputBufferSize = 1 << 17;  // one zstd block
const unsigned kMinWindowLog = 10;

struct DCtxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

class CPatchRun {
 public:
  CPatchRun(CPatchSource& frame, CPatchSink& sink, const ReleaseFile& file)
      : m_frame(frame), m_sink(sink), m_file(file) {}

  PatchResult Run(const unsigned char* base, size_t baseSize);

 private:
  PatchResult Fill();
  PatchResult CheckHeader(size_t baseSize);
  PatchResult Decode();

  CPatchSource& m_frame;
  CPatchSink& m_sink;
  const ReleaseFile& m_file;
  std::unique_ptr<ZSTD_DCtx, DCtxFree> m_context;
  std::unique_ptr<unsigned char[]> m_input;
  std::unique_ptr<unsigned char[]> m_output;
  ZSTD_inBuffer m_in = {nullptr, 0, 0};
  bool m_inputEnded = false;
  uint64_t m_written = 0;
  CSha256 m_hash;
};

// Moves what is left of the input to the buffer's start and reads more.
PatchResult CPatchRun::Fill() {
  const size_t left = m_in.size - m_in.pos;
  std::memmove(m_input.get(), m_input.get() + m_in.pos, left);
  m_in.pos = 0;
  m_in.size = left;
  size_t got = 0;
  if (!m_frame.Read(m_input.get() + left, kInputBufferSize - left, &got)) {
    return PatchResult::kReadFailed;
  }
  m_in.size += got;
  m_inputEnded = got == 0;
  return PatchResult::kApplied;
}

PatchResult CPatchRun::CheckHeader(size_t baseSize) {
  while (m_in.size < ZSTD_FRAMEHEADERSIZE_MAX && !m_inputEnded) {
    const PatchResult read = Fill();
    if (read != PatchResult::kApplied) return read;
  }
  ZSTD_frameHeader header = {};
  if (ZSTD_getFrameHeader(&header, m_input.get(), m_in.size) != 0 ||
      header.frameType != ZSTD_frame || header.dictID != 0 ||
      header.frameContentSize != m_file.size) {
    return PatchResult::kDamaged;
  }
  const unsigned logLimit = PatchWindowLog(baseSize, m_file.size);
  if (header.windowSize > (uint64_t{1} << logLimit)) return PatchResult::kWindowTooLarge;
  if (ZSTD_isError(ZSTD_DCtx_setParameter(m_context.get(), ZSTD_d_windowLogMax,
                                          static_cast<int>(logLimit)))) {
    return PatchResult::kWindowTooLarge;
  }
  return PatchResult::kApplied;
}

PatchResult CPatchRun::Decode() {
  for (;;) {
    ZSTD_outBuffer out = {m_output.get(), kOutputBufferSize, 0};
    const size_t status = ZSTD_decompressStream(m_context.get(), &out, &m_in);
    if (ZSTD_isError(status)) {
      return ZSTD_getErrorCode(status) == ZSTD_error_memory_allocation ? PatchResult::kNoMemory
                                                                       : PatchResult::kDamaged;
    }
    if (out.pos > 0) {
      m_written += out.pos;
      if (m_written > m_file.size) return PatchResult::kDamaged;
      m_hash.Update(m_output.get(), out.pos);
      if (!m_sink.Write(m_output.get(), out.pos)) return PatchResult::kWriteFailed;
    }
    if (status == 0) {
      // The frame is complete: nothing may follow it.
      if (m_in.pos == m_in.size) {
        const PatchResult read = Fill();
        if (read != PatchResult::kApplied) return read;
      }
      return m_in.size == 0 ? PatchResult::kApplied : PatchResult::kDamaged;
    }
    if (m_in.pos == m_in.size && out.pos < out.size) {
      // The decoder has taken all input and has room: it needs more.
      const PatchResult read = Fill();
      if (read != PatchResult::kApplied) return read;
      if (m_inputEnded) return PatchResult::kDamaged;  // the frame is cut short
    }
  }
}

PatchResult CPatchRun::Run(const unsigned char* base, size_t baseSize) {
  if (baseSize > kMaxPatchedFileSize || m_file.size > kMaxPatchedFileSize) {
    return PatchResult::kTooLarge;
  }
  Sha256Digest baseHash = {};
  if (!Sha256Of(base, baseSize, &baseHash) || !m_file.hasBase || baseHash != m_file.base) {
    return PatchResult::kWrongBase;
  }
  m_context.reset(ZSTD_createDCtx());
  m_input.reset(new (std::nothrow) unsigned char[kInputBufferSize]);
  m_output.reset(new (std::nothrow) unsigned char[kOutputBufferSize]);
  if (m_context == nullptr || m_input == nullptr || m_output == nullptr) {
    return PatchResult::kNoMemory;
  }
  m_in.src = m_input.get();
  PatchResult result = CheckHeader(baseSize);
  if (result != PatchResult::kApplied) return result;
  if (ZSTD_isError(ZSTD_DCtx_refPrefix(m_context.get(), base, baseSize))) {
    return PatchResult::kNoMemory;
  }
  result = Decode();
  if (result != PatchResult::kApplied) return result;
  Sha256Digest resultHash = {};
  if (!m_hash.Finish(&resultHash) || m_written != m_file.size || resultHash != m_file.result) {
    return PatchResult::kWrongResult;
  }
  return PatchResult::kApplied;
}

}  // namespace

unsigned PatchWindowLog(uint64_t baseSize, uint64_t resultSize) {
  const uint64_t larger = baseSize > resultSize ? baseSize : resultSize;
  unsigned log = kMinWindowLog;
  while ((uint64_t{1} << log) < larger) ++log;
  return log;
}

const char* PatchResultText(PatchResult result) {
  switch (result) {
    case PatchResult::kApplied:
      return "was applied";
    case PatchResult::kWrongBase:
      return "does not fit the installed file";
    case PatchResult::kTooLarge:
      return "is for a file too large to patch";
    case PatchResult::kWindowTooLarge:
      return "asks for more memory than its files need";
    case PatchResult::kDamaged:
      return "is damaged";
    case PatchResult::kWrongResult:
      return "gives a file other than the release's";
    case PatchResult::kReadFailed:
      return "could not be read";
    case PatchResult::kWriteFailed:
      return "could not be written out";
    case PatchResult::kNoMemory:
      return "needs more memory than there is";
  }
  return "failed";
}

PatchResult ApplyPatch(const unsigned char* base, size_t baseSize, CPatchSource& frame,
                       CPatchSink& sink, const ReleaseFile& file) {
  CPatchRun run(frame, sink, file);
  return run.Run(base, baseSize);
}

bool CPatchMemorySource::Read(unsigned char* buffer, size_t capacity, size_t* got) {
  const size_t left = m_size - m_at;
  *got = left < capacity ? left : capacity;
  if (*got > 0) std::memcpy(buffer, m_data + m_at, *got);
  m_at += *got;
  return true;
}

CPatchFileSource::CPatchFileSource(const char* path) : m_file(std::fopen(path, "rb")) {}

CPatchFileSource::~CPatchFileSource() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool CPatchFileSource::Read(unsigned char* buffer, size_t capacity, size_t* got) {
  if (m_file == nullptr) return false;
  *got = std::fread(buffer, 1, capacity, m_file);
  return *got > 0 || !std::ferror(m_file);
}

CPatchFileSink::CPatchFileSink(const char* target, uint32_t attributes, bool inPlace)
    : m_file(FsCreatePending(target, attributes, inPlace)) {}

CPatchFileSink::~CPatchFileSink() {
  FsDiscard(m_file);
}

bool CPatchFileSink::Write(const unsigned char* data, size_t size) {
  while (m_file != nullptr && size > 0) {
    const uint32_t piece =
        static_cast<uint32_t>(size < kOutputBufferSize ? size : kOutputBufferSize);
    if (!FsWrite(m_file, data, piece)) return false;
    data += piece;
    size -= piece;
  }
  return m_file != nullptr;
}

bool CPatchFileSink::Commit(const UNPACK_FILETIME& creation, const UNPACK_FILETIME& lastAccess,
                            const UNPACK_FILETIME& lastWrite) {
  if (m_file == nullptr) return false;
  FsPendingFile* file = m_file;
  m_file = nullptr;
  return FsCommit(file, creation, lastAccess, lastWrite);
}
