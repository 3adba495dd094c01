#include "pipeline/VectorPath.h"

#include <atomic>

#include "pipeline/DemosaicRows.h"

namespace tovira {
namespace {
std::atomic<int32_t> gVectorPath{static_cast<int32_t>(VectorPath::kAuto)};
}  // namespace

void SetVectorPath(VectorPath path) { gVectorPath.store(static_cast<int32_t>(path), std::memory_order_relaxed); }

VectorPath ActiveVectorPath() {
  const auto path = static_cast<VectorPath>(gVectorPath.load(std::memory_order_relaxed));
  if (path == VectorPath::kScalar || path == VectorPath::kSse2) return path;
  return demosaic_rows::CpuHasAvx2() ? VectorPath::kAvx2 : VectorPath::kSse2;
}

const char* VectorPathName(VectorPath path) {
  switch (path) {
    case VectorPath::kScalar: return "scalar";
    case VectorPath::kSse2: return "SSE2";
    case VectorPath::kAvx2: return "AVX2";
    default: return "auto";
  }
}

}  // namespace tovira
