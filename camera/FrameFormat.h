#pragma once
// The format of the frames an instance delivers with its current settings (ToviraX_GetFrameFormat).

#include "ToviraSdk_Z400KX_ext.h"

class CTovira;

namespace tovira {

// 1; 0 with error 9 for a null record or a size below 52, 7 for a window outside the sensor.
int GetFrameFormat(CTovira& camera, int rowOrder, TOVIRAX_FRAME_FORMAT* format);

}  // namespace tovira
