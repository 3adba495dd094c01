/* A plain C program against the public header and the import library alone: the header is
   self-contained C, and the records have the sizes applications rely on. */
#include <stdio.h>
#include <string.h>

#include "ToviraSdk_Z400KX.h"

static int failures = 0, passes = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (cond) {                                                        \
            ++passes;                                                      \
        } else {                                                           \
            ++failures;                                                    \
            printf("FAILED: %s (line %d)\n", #cond, __LINE__);             \
        }                                                                  \
    } while (0)

int main(void) {
    char names[10][256];
    TOVIRA_CAMERA_INFO info;
    TOVIRA_FRAME_INFO frame;
    int h, ok = 0;

    CHECK(sizeof(TOVIRA_CAMERA_INFO) == 36);
    CHECK(sizeof(TOVIRA_FRAME_INFO) == 32);
    CHECK(offsetof(TOVIRA_FRAME_INFO, buffer) == 24);
    CHECK(WM_TOVIRA_FRAME == 0x8002 && WM_TOVIRA_ERROR == 0x8003);
    CHECK(Tovira_GetDllVersion() == 0x250514);

    h = Tovira_Initialize(NULL);
    CHECK(h != 0);
    while (Tovira_GetLastError(h) != 0) {
    }
    memset(names, 0x55, sizeof names);
    CHECK(Tovira_EnumDevice(h, &names[0][0]) >= 0);
    CHECK(names[9][0] == 0); /* all ten entries are written */
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    Tovira_GetCameraInfo(h, &info);
    memset(&frame, 0, sizeof frame);
    CHECK(Tovira_Trigger(h) == 0);
    CHECK(Tovira_GetLastError(h) == TOVIRA_ERR_UNSUPPORTED);
    CHECK(Tovira_GetBrightness(h, &ok) == 0 || ok);
    CHECK(Tovira_Release(h) == 1);
    CHECK(Tovira_Release(h) == 0);

    printf("%d passed, %d failed\n", passes, failures);
    return failures ? 1 : 0;
}
