// Filter values, exposure in microseconds, auto iris, mirrors, I/O port, registers and serial ROM.

#include "camera/Tovira.h"

int CTovira::SetFilterValue(int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetFilterValue(int, int* success) { if (success) *success = 0; RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetRealExposureTime(int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetRealExposureTime(int* success) { if (success) *success = 1; return 0; }
int CTovira::SetAutoIris(int) { RecordError(TOVIRA_ERR_PARAMETER); return 0; }
int CTovira::GetAutoIris(int* success) { if (success) *success = 1; return static_cast<int>(autoIrisMode); }
int CTovira::SetMirrorH(int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetMirrorV(int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetMirrorH() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetMirrorV() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetIOPort(int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetIOPort(unsigned char*) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::ReadRegister(uint16_t, int* success) { if (success) *success = 0; RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::WriteRegister(uint16_t, uint16_t) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::ReadSromID(int, int* success) { if (success) *success = 0; RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::WriteSromID(int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
