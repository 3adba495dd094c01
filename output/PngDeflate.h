// The image data of a PNG file: rows in PNG order (red, green, blue, alpha; 16-bit samples high byte
// first), each filtered with the filter that libpng's default heuristic picks (the smallest sum of the
// filtered bytes read as signed values), compressed into one zlib stream by libdeflate. The caller puts
// the stream into IDAT chunks.
//
// A large image is compressed in parts of whole rows, one zlib stream made of independently compressed
// pieces (each but the last ends with an empty stored block on a byte boundary, as after zlib's full
// flush). The parts depend only on the image's size, so the file is the same whatever the number of
// cores; the caller's thread and, where a second core exists, one helper thread started for this call
// share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// rows: storage rows of `width` pixels at `bitsPerPixel` (8, 16, 24, 32, 48 or 64; blue first,
// little-endian 16-bit samples). Returns false when libdeflate cannot be set up; throws std::bad_alloc
// when memory runs out.
bool DeflatePngImage(const uint8_t* const* rows, int width, int height, int bitsPerPixel,
                     std::vector<uint8_t>& stream);

// The number of parts DeflatePngImage compresses such an image in (1, 2, 4 or 8).
int PngStreamParts(int width, int height, int bitsPerPixel);

// Turns the raw deflate stream out[0..size), one whole stream that ends with its final block (as
// libdeflate_deflate_compress writes it), into a part that does not end the stream: the final bit of its
// last block cleared and an empty stored block that is not final appended, so that it ends on a byte
// boundary and another part's blocks can follow. `out` must have room for 6 more bytes. Returns the new
// size, or 0 when out[0..size) is not exactly one whole deflate stream. Every part but the last goes
// through this; exposed for the tests.
size_t EndDeflatePart(uint8_t* out, size_t size);
