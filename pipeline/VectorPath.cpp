#include "pipeline/VectorPath.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>

#include "pipeline/DemosaicRows.h"

namespace tovira {
namespace {
std::atomic<int32_t> gVectorPath{static_cast<int32_t>(VectorPath::kAuto)};
// The environment's choice; -1 until read.
std::atomic<int32_t> gEnvironmentPath{-1};
}  // namespace

VectorPath ParseVectorPath(const char* text) {
  if (text == nullptr) return VectorPath::kAuto;
  std::string value;
  for (const char* c = text; *c != '\0' && value.size() < 16; ++c)
    if (*c != '-' && *c != '_' && *c != ' ') value += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  if (value == "avx512") return VectorPath::kAvx512;
  if (value == "avx2") return VectorPath::kAvx2;
  if (value == "sse2") return VectorPath::kSse2;
  if (value == "scalar") return VectorPath::kScalar;
  return VectorPath::kAuto;
}

VectorPath EnvironmentVectorPath() {
  int32_t path = gEnvironmentPath.load(std::memory_order_relaxed);
  if (path < 0) {
    path = static_cast<int32_t>(ParseVectorPath(std::getenv("TOVIRA_VECTOR_PATH")));
    gEnvironmentPath.store(path, std::memory_order_relaxed);
  }
  return static_cast<VectorPath>(path);
}

void ReloadEnvironmentVectorPath() { gEnvironmentPath.store(-1, std::memory_order_relaxed); }

void SetVectorPath(VectorPath path) { gVectorPath.store(static_cast<int32_t>(path), std::memory_order_relaxed); }

bool CpuHasAvx512Vbmi() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  // libgcc checks the CPUID bits and that the operating system saves the AVX-512 registers.
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") != 0 && __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has;
#else
  return false;
#endif
}

VectorPath ActiveVectorPath() {
  auto path = static_cast<VectorPath>(gVectorPath.load(std::memory_order_relaxed));
  if (path == VectorPath::kAuto) path = EnvironmentVectorPath();
  if (path == VectorPath::kScalar || path == VectorPath::kSse2) return path;
  if (!demosaic_rows::CpuHasAvx2()) return VectorPath::kSse2;
  if (path == VectorPath::kAvx2) return path;
  return CpuHasAvx512Vbmi() ? VectorPath::kAvx512 : VectorPath::kAvx2;
}

const char* VectorPathName(VectorPath path) {
  switch (path) {
    case VectorPath::kScalar: return "scalar";
    case VectorPath::kSse2: return "SSE2";
    case VectorPath::kAvx2: return "AVX2";
    case VectorPath::kAvx512: return "AVX-512";
    default: return "auto";
  }
}

}  // namespace tovira
