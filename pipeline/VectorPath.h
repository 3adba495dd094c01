// Which code the tone and colour kernels (hue/saturation, sharpness, defect filter) run: the scalar
// loops, which stay the reference, or their vector bodies (SSE2 everywhere, wider where the CPU has it,
// chosen at run time as the demosaic does).
#pragma once

#include <cstdint>

namespace tovira {

// kAuto (the default) takes the widest path the CPU supports; the other values force one path, for
// tests and benchmarks that compare them (a path the CPU lacks falls back to the next narrower one).
// Process-wide; not meant to be changed while frames are processed.
enum class VectorPath : int32_t { kAuto = 0, kScalar = 1, kSse2 = 2, kAvx2 = 3 };
void SetVectorPath(VectorPath path);
// The path the kernels use now (never kAuto).
VectorPath ActiveVectorPath();
const char* VectorPathName(VectorPath path);

}  // namespace tovira
