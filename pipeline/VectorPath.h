// Which code the tone and colour kernels (hue/saturation, sharpness, defect filter) run: the scalar
// loops, which stay the reference, or their vector bodies (SSE2 everywhere, wider where the CPU has it,
// chosen at run time as the demosaic does).
#pragma once

#include <cstdint>

namespace tovira {

// kAuto (the default) takes the widest path the CPU supports; the other values force one path, for
// tests and benchmarks that compare them (a path the CPU lacks falls back to the next narrower one).
// Process-wide; not meant to be changed while frames are processed.
// kAvx512 adds the AVX-512 (BW, VBMI) bodies where a kernel has one and runs AVX2 elsewhere.
enum class VectorPath : int32_t { kAuto = 0, kScalar = 1, kSse2 = 2, kAvx2 = 3, kAvx512 = 4 };
void SetVectorPath(VectorPath path);
// The path the kernels use now (never kAuto). With the path set to kAuto, the environment variable
// TOVIRA_VECTOR_PATH chooses it when set: `avx512`, `avx2`, `sse2` or `scalar` (any case; `avx-512`
// too); `auto`, empty or any other value leaves the choice to the CPU check. The demosaic follows it
// too (ActiveDemosaicPath): SSE2 for `sse2`, its scalar loops for `scalar`.
VectorPath ActiveVectorPath();
// The path TOVIRA_VECTOR_PATH names (kAuto when unset or unknown), read once; Reload reads it again
// (for tests that set the variable).
VectorPath EnvironmentVectorPath();
void ReloadEnvironmentVectorPath();
// The path a value of TOVIRA_VECTOR_PATH names (nullptr: kAuto).
VectorPath ParseVectorPath(const char* text);
const char* VectorPathName(VectorPath path);
inline bool HasAvx2Path(VectorPath path) { return path == VectorPath::kAvx2 || path == VectorPath::kAvx512; }

// True when the CPU and the operating system support AVX-512 BW and VBMI.
bool CpuHasAvx512Vbmi();

}  // namespace tovira
