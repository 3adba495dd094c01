// AVX-512 (BW, VBMI) bodies of the tone tables. 8-bit: 64 samples per step through the 256-entry table
// held in four registers, with two 128-entry byte permutes and a select by the sample's top bit; 16-bit:
// 32 samples per step through gathers. Compiled for AVX-512 through the target pragma below; its functions
// run only after CpuHasAvx512Vbmi() (VectorPath.cpp), and nothing else with external linkage is defined here.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/ToneRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the undefined upper halves inside the widening intrinsics for uninitialised values;
// nothing here reads them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "pipeline/TableLookupAvx512.h"

namespace tovira::tone_rows {

int64_t Lookup8Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth) {
  // With keepFourth, every fourth byte (bytes 3, 7, ...) of the target keeps its value.
  const __mmask64 write = keepFourth ? 0x7777777777777777ull : ~0ull;
  const ByteTable t = LoadByteTable(table);
  int64_t done = 0;
  for (; done + 64 <= n; done += 64)
    _mm512_mask_storeu_epi8(target + done, write, Lookup(t, _mm512_loadu_si512(source + done)));
  return done;
}

// 16-bit tables: 32 samples a step, through gathers.
int64_t Lookup16Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint16_t* table, int32_t largest,
                       bool keepFourth) {
  if (largest < 1) return 0;
  const __mmask32 write = keepFourth ? 0x77777777u : ~0u;
  int64_t done = 0;
  for (; done + 32 <= n; done += 32)
    _mm512_mask_storeu_epi16(target + 2 * done, write, Lookup16(table, largest, _mm512_loadu_si512(source + 2 * done)));
  return done;
}

}  // namespace tovira::tone_rows

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#if defined(__GNUC__)
#pragma GCC pop_options
#endif
