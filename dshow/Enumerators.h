// IEnumPins over the filter's one pin and IEnumMediaTypes over a list of formats.
#pragma once

#include "dshow/ComPtr.h"
#include "dshow/VideoFormats.h"

#include <windows.h>
#include <dshow.h>

#include <vector>

namespace tovira::dshow {

HRESULT createPinEnumerator(IBaseFilter* filter, IPin* pin, IEnumPins** out);
// Takes copies of the types; each Next hands out CoTaskMemAlloc'd copies (the caller deletes them).
HRESULT createMediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE>& types, IEnumMediaTypes** out);

} // namespace tovira::dshow
