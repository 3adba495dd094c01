#pragma once
// The file type of the viewer's Save As: the extension the user typed decides; the chosen filter decides
// only what the extension leaves open (the JPEG quality) or when there is no known extension.

#include <windows.h>

#include <cstring>

#include "ToviraSdk_Z400KX.h"

// filterIndex: the dialog's 1-based filter index, whose entries are the SDK's file types 0..6 in order.
inline int SaveFileTypeFor(const char* file, int filterIndex) {
    const int chosen = filterIndex >= 1 && filterIndex <= 7 ? filterIndex - 1 : TOVIRA_FILE_BMP;
    const char* slash = std::strrchr(file, '\\');
    const char* name = slash ? slash + 1 : file;
    const char* dot = std::strrchr(name, '.');
    if (!dot) return chosen;
    if (!lstrcmpiA(dot, ".bmp") || !lstrcmpiA(dot, ".dib")) return TOVIRA_FILE_BMP;
    if (!lstrcmpiA(dot, ".raw")) return TOVIRA_FILE_RAW;
    if (!lstrcmpiA(dot, ".jpg") || !lstrcmpiA(dot, ".jpeg") || !lstrcmpiA(dot, ".jpe")) {
        const bool jpegChosen = chosen >= TOVIRA_FILE_JPEG_100 && chosen <= TOVIRA_FILE_JPEG_20;
        return jpegChosen ? chosen : TOVIRA_FILE_JPEG_100;
    }
    if (!lstrcmpiA(dot, ".png")) return TOVIRA_FILE_PNG;
    if (!lstrcmpiA(dot, ".tif") || !lstrcmpiA(dot, ".tiff")) return TOVIRA_FILE_TIFF;
    return chosen;
}
