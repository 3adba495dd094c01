// Saving the current output image. The output image is copied under the frame lock (so the file holds
// one whole frame) inside the control gate, and the copy is encoded outside both, so a slow encoder
// holds up neither the frame loop nor the other control calls.

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "camera/CallbackDelivery.h"
#include "camera/RecordEnd.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/AviFrame.h"
#include "output/DibImage.h"
#include "output/ImageFiles.h"
#include "output/PreviewWindow.h"
#include "output/ReplaceFile.h"

namespace {

// A copy of the output image (pixels and colour table), or an empty image when there is none.
bool SnapshotOutput(CTovira& instance, CDibImage& copy) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    CDibImage* output = instance.OutputImageFor(instance.colorMode);
    if (!output || output->IsEmpty()) return false;
    if (!copy.CreateLike(output)) return false;
    std::memcpy(copy.Bits(), output->Bits(), output->ByteSize());
    return true;
}

// Saving: each failure gets its reason. A null or empty name and an unknown type are bad arguments,
// no frame yet is "not ready", and a file the system would not write (missing folder, invalid name, full
// disk) is a storage failure.
int SaveImageAs(CTovira& instance, const wchar_t* fileName, int fileType) {
    tovira::GateEntry entry(instance.Gate());
    if (!entry.Entered()) {
        instance.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!instance.device || !instance.OutputImageFor(instance.colorMode)) {
        instance.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!fileName || !*fileName || static_cast<unsigned>(fileType) > kFileTiff) {
        instance.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    CDibImage copy;
    if (!SnapshotOutput(instance, copy)) {
        instance.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // The copy is the file's; other control calls go on while it is encoded.
    instance.Gate().Leave();
    const SaveResult result = SaveImageFile(fileName, &copy, fileType);
    instance.Gate().Enter();
    switch (result) {
        case SaveResult::kSaved:
            return 1;
        case SaveResult::kBadType:
        case SaveResult::kBadName:
            instance.RecordError(TOVIRA_ERR_PARAMETER);
            return 0;
        case SaveResult::kNoImage:
            instance.RecordError(TOVIRA_ERR_NOT_READY);
            return 0;
        default:
            instance.RecordError(TOVIRA_ERR_STORAGE);
            return 0;
    }
}

}  // namespace

// The ANSI entry points read the name as the file functions of the ANSI code page would; the wide ones
// use the name exactly as given.
int CTovira::SaveImage(const char* fileName, int fileType) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    return SaveImageAs(*this, wide.empty() ? nullptr : wide.c_str(), fileType);
}

int CTovira::SaveImageW(const wchar_t* fileName, int fileType) { return SaveImageAs(*this, fileName, fileType); }
