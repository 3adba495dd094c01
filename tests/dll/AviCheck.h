// Reads an AVI file back without any of the SDK's code: walks every RIFF, counts the frame chunks and
// checks each index against the chunks it points to. Knows the three ways the SDK stores frames:
// 24-bit and 8-bit grey bitmaps ("DIB ", "00db" chunks of one size) and Motion JPEG ("MJPG", "00dc"
// chunks of any size, each one JPEG image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AviReadBack {
    std::string problem;  // empty when the file is consistent
    bool large = false;   // has the large-file extension (super index, "odml")
    uint32_t mainFrames = 0, streamLength = 0, totalFrames = 0;  // avih, strh, dmlh
    uint32_t width = 0, height = 0;
    std::string handler;                  // the stream header's: "DIB " or "MJPG"
    uint16_t bitCount = 0;                // the bitmap header's
    bool greyPalette = false;             // 8 bits with the 256 grey entries
    uint64_t fileBytes = 0;
    std::vector<uint32_t> framesPerRiff;  // frame chunks in each RIFF's "movi"
    uint32_t idx1Entries = 0;
    uint64_t firstRiffBytes = 0;          // RIFF size + 8
    struct Frame {
        uint64_t data;  // position of the frame's bytes in the file
        uint32_t bytes;
    };
    std::vector<Frame> frames;            // every frame chunk in file order
    uint32_t Frames() const {
        uint32_t n = 0;
        for (uint32_t f : framesPerRiff) n += f;
        return n;
    }
};

// A finished file: the RIFFs tile the file exactly, every index entry points at a frame chunk of the
// right size, and the counts in the headers match the chunks.
AviReadBack ReadFinishedAvi(const std::wstring& name);
// A file that was never finished (the process was killed): the first RIFF as its headers describe it
// (sizes and counts of the last rewrite) holds whole frame chunks, and the file holds at least that.
AviReadBack ReadUnfinishedAvi(const std::wstring& name);
// The bytes of one frame the reader found.
std::vector<uint8_t> ReadAviFrame(const std::wstring& name, const AviReadBack::Frame& frame);

// The frames the Windows AVI reading functions (avifil32) find in the file's video stream, after
// reading frame `lastRead` (the last one when negative); -1 when they refuse the file or that frame.
// Wine's reader knows only the first RIFF of a large file: it reports the stream's full length but
// ends the process when asked for a frame past that RIFF, so large files are read up to it.
long WindowsReaderFrames(const std::wstring& name, long lastRead = -1);
