#include "tools/unpack/patch_encoder.h"

#include <memory>

#include <zstd.h>

#include "updater/release/patch_decoder.h"

namespace {

struct CCtxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

}  // namespace

bool MakePatch(const std::string& base, const std::string& result, int level, std::string* frame,
               std::string* why) {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
  const int windowLog = static_cast<int>(PatchWindowLog(base.size(), result.size()));
  if (context == nullptr ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1)) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), base.data(), base.size()))) {
    *why = "zstd cannot be set up for the patch";
    return false;
  }
  frame->resize(ZSTD_compressBound(result.size()));
  const size_t size =
      ZSTD_compress2(context.get(), &(*frame)[0], frame->size(), result.data(), result.size());
  if (ZSTD_isError(size)) {
    *why = "zstd failed to make the patch";
    return false;
  }
  frame->resize(size);
  return true;
}
