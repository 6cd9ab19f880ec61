// The patch decoder: rebuilds a file of a new version from the file of the
// old version (the base) and a zstd frame that was made with the base as
// its prefix ("patch-from"), as `unpack delta` makes them.
//
// Memory: the caller holds the base in memory; the decoder adds a window as
// large as the result (zstd keeps what it has written within reach of later
// matches) and a few fixed buffers, under 2 MiB. The result itself is
// streamed to the sink through a bounded buffer. So a patch costs at most
// base + result + 2 MiB, below twice the largest file patched plus 16 MiB;
// files above kMaxPatchedFileSize are never patched.
//
// The frame must declare the result's size, match it exactly, fit its window
// within what a file of the base's and the result's size needs, end where
// its bytes end, and pass its own checksum; the result must have the
// record's SHA-256. Anything else is refused with a reason, having written
// at most the record's size to the sink.
#ifndef UPDATER_RELEASE_PATCH_DECODER_H_
#define UPDATER_RELEASE_PATCH_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "unzip/platform/file_system.h"
#include "updater/release/release_record.h"
#include "updater/release/sha256.h"

enum class PatchResult {
  kApplied,
  kWrongBase,       // the base's SHA-256 is not the record's
  kTooLarge,        // the base or the result is above kMaxPatchedFileSize
  kWindowTooLarge,  // the frame asks for more memory than the files need
  kDamaged,         // not a frame for this result, or one that fails to decode
  kWrongResult,     // decoded, but not to the record's size and SHA-256
  kReadFailed,      // the frame's bytes could not be read
  kWriteFailed,     // the sink refused the result
  kNoMemory,
};

// The base-2 logarithm of the largest window a patch for these two sizes
// may use: the smallest power of two that holds the larger file, at least
// 2^10. unpack delta makes its frames with exactly this window.
unsigned PatchWindowLog(uint64_t baseSize, uint64_t resultSize);

// A person's words for a result, to follow "the patch ..." ("does not fit the
// installed file").
const char* PatchResultText(PatchResult result);

// Where the frame comes from.
class CPatchSource {
 public:
  virtual ~CPatchSource() = default;
  // Reads up to capacity bytes into buffer; *got 0 means the end. False on
  // a read error.
  virtual bool Read(unsigned char* buffer, size_t capacity, size_t* got) = 0;
};

// Where the result goes, in order, a bounded piece at a time.
class CPatchSink {
 public:
  virtual ~CPatchSink() = default;
  virtual bool Write(const unsigned char* data, size_t size) = 0;
};

// The file's expected base and result: a record line with action patch.
// base: baseSize bytes of the old file. The decoded result goes to sink; on
// any answer but kApplied what the sink received is to be thrown away.
PatchResult ApplyPatch(const unsigned char* base, size_t baseSize, CPatchSource& frame,
                       CPatchSink& sink, const ReleaseFile& file);

// Frame bytes in memory.
class CPatchMemorySource : public CPatchSource {
 public:
  CPatchMemorySource(const void* data, size_t size)
      : m_data(static_cast<const unsigned char*>(data)), m_size(size) {}
  bool Read(unsigned char* buffer, size_t capacity, size_t* got) override;

 private:
  const unsigned char* m_data;
  size_t m_size;
  size_t m_at = 0;
};

// Frame bytes from a file, opened by path (process code page); Read fails
// when it could not be opened.
class CPatchFileSource : public CPatchSource {
 public:
  explicit CPatchFileSource(const char* path);
  ~CPatchFileSource() override;
  CPatchFileSource(const CPatchFileSource&) = delete;
  CPatchFileSource& operator=(const CPatchFileSource&) = delete;
  bool Read(unsigned char* buffer, size_t capacity, size_t* got) override;

 private:
  std::FILE* m_file;
};

// The result written into a new temporary file beside target (the zip
// layer's pending files, file_system.h) and moved over target only by
// Commit: a patch that fails never touches what is at target. With inPlace,
// a target that does not exist yet is written under its own name (a staged
// file nobody reads before the commit) and removed again unless committed.
class CPatchFileSink : public CPatchSink {
 public:
  // attributes: kUnpackAttr bits for the new file. valid() tells whether
  // the temporary file could be made.
  CPatchFileSink(const char* target, uint32_t attributes, bool inPlace = false);
  ~CPatchFileSink() override;  // removes the temporary file unless committed
  CPatchFileSink(const CPatchFileSink&) = delete;
  CPatchFileSink& operator=(const CPatchFileSink&) = delete;

  bool valid() const { return m_file != nullptr; }
  bool Write(const unsigned char* data, size_t size) override;
  // Sets the times and moves the file over target (FsCommit). False when it
  // could not be put in place; target is then as it was.
  bool Commit(const UNPACK_FILETIME& creation, const UNPACK_FILETIME& lastAccess,
              const UNPACK_FILETIME& lastWrite);

 private:
  FsPendingFile* m_file;
};

#endif  // UPDATER_RELEASE_PATCH_DECODER_H_
