/*
 * ToviraSdk_Z400KX_ext.h - acquisition extension of ToviraSdk_Z400KX.dll: frame metadata and counters,
 * waiting for a frame without a window, a frame callback on a worker thread with a pool of the caller's
 * buffers, error texts, a recording-completion notice, the frame format before streaming, and settings that
 * can be kept out of the registry, reset and saved to or loaded from a file. The 118 Tovira_ functions of
 * ToviraSdk_Z400KX.h (included here) are unchanged; these functions are named ToviraX_.
 *
 * Frame ids are the sensor's frame counter (64 bits wide here; the camera's own counter is 32 bits), so
 * within one stream a frame that never reached the application leaves a gap in the ids. Setting the
 * environment variable TOVIRA_LOG to a file name makes the library append one line per failure, state
 * change and dropped frame to that file (TOVIRA_LOG_LEVEL: errors, states or drops, the default).
 */
#ifndef TOVIRASDK_Z400KX_EXT_H
#define TOVIRASDK_Z400KX_EXT_H

#include "ToviraSdk_Z400KX.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Posted to the window of ToviraX_SetRecordNotify when a recording ends: wParam = frames written,
   lParam = one of the TOVIRAX_RECORD_ reasons. */
#define WM_TOVIRAX_RECORDED (WM_APP + 4) /* 0x8004 */

#define TOVIRAX_RECORD_DURATION_REACHED 1
#define TOVIRAX_RECORD_STOPPED 2
#define TOVIRAX_RECORD_CAMERA_LOST 3
#define TOVIRAX_RECORD_DISK_FULL 4
#define TOVIRAX_RECORD_FILE_LIMIT 5

/* ToviraX_WaitFrame: any frame processed after the call began. */
#define TOVIRAX_NEXT_FRAME 0xFFFFFFFFFFFFFFFFull

/* One processed frame. The caller sets size (at least 104) before passing it in. The counts are those
   at the moment the frame was handed on, this frame included. */
typedef struct TOVIRAX_FRAME_META {
    int size;                      /* 104 */
    int bitsPerPixel;              /* 8, 16, 24, 32, 48 or 64 */
    unsigned long long frameId;    /* the sensor's frame counter */
    long long timestamp;           /* QueryPerformanceCounter when the frame's transfer completed */
    long long timestampUs;         /* the same in microseconds */
    int width;                     /* after sub-sampling */
    int height;
    int stride;                    /* bytes per row in the caller's copy */
    int exposureLines;             /* sensor exposure in lines, as sent to the camera */
    int exposureUs;                /* the exposure in microseconds */
    int globalGain;                /* 0..127, as sent to the camera */
    int gainRed;
    int gainGreen1;
    int gainGreen2;
    int gainBlue;
    int frameRate;                 /* tenths of frames per second */
    int reserved;
    unsigned long long delivered;  /* frames handed to the application */
    unsigned long long dropped;    /* frames replaced by a newer one before the application got them */
    unsigned long long failed;     /* frames that could not be read or copied */
} TOVIRAX_FRAME_META;

/* The running counts of a handle; they survive stopping and starting the stream. */
typedef struct TOVIRAX_COUNTERS {
    int size;                      /* 32 */
    int reserved;
    unsigned long long delivered;
    unsigned long long dropped;
    unsigned long long failed;
} TOVIRAX_COUNTERS;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(TOVIRAX_FRAME_META) == 104, "TOVIRAX_FRAME_META is 104 bytes");
static_assert(sizeof(TOVIRAX_COUNTERS) == 32, "TOVIRAX_COUNTERS is 32 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TOVIRAX_FRAME_META) == 104, "TOVIRAX_FRAME_META is 104 bytes");
_Static_assert(sizeof(TOVIRAX_COUNTERS) == 32, "TOVIRAX_COUNTERS is 32 bytes");
#else
typedef char tovirax_frame_meta_is_104_bytes[sizeof(TOVIRAX_FRAME_META) == 104 ? 1 : -1];
typedef char tovirax_counters_is_32_bytes[sizeof(TOVIRAX_COUNTERS) == 32 ? 1 : -1];
#endif

/* Called on the library's callback thread (never the frame loop) with one of the caller's buffers, now
   holding a frame, and its record (valid during the call). The buffer is the caller's until it hands it
   back with ToviraX_ReturnBuffer, from any thread, inside the callback or later; the library never
   writes into a buffer the caller holds. Calling ToviraX_SetFrameCallback from inside fails. */
typedef void (*TOVIRAX_FRAME_CALLBACK)(int hCamera, void* buffer, const TOVIRAX_FRAME_META* meta, void* user);

/* Called on the recording thread once the file is complete. Any function may be called from inside,
   including starting and stopping the stream and Tovira_Release. */
typedef void (*TOVIRAX_RECORD_CALLBACK)(int hCamera, int framesWritten, int reason, void* user);

/* Status events (ToviraX_SetStatusCallback). */
#define TOVIRAX_STATUS_CAMERA_LOST 1     /* the camera was lost; the stream ended. value: last frame id */
#define TOVIRAX_STATUS_STREAM_STOPPED 2  /* a stream ended. detail: 0 stopped by the application (stop,
                                            close), 1 by the library (camera lost) */
#define TOVIRAX_STATUS_RECORDING_ENDED 3 /* value: frames written, detail: a TOVIRAX_RECORD_ reason */

/* Called on the library's status thread, one event at a time in the order they happened. Any function
   may be called from inside, including stopping the stream and Tovira_Release. */
typedef void (*TOVIRAX_STATUS_CALLBACK)(int hCamera, int event, long long value, int detail, void* user);

/* ---- frames ----------------------------------------------------------------------------------------- */

/* The record of the last frame handed on and the current counts; either pointer may be NULL.
   0 with error 9 when a record's size is too small; 0 with error 5 when no frame was processed yet
   (the counts are filled anyway). */
TOVIRA_API int ToviraX_GetFrameMeta(int hCamera, TOVIRAX_FRAME_META* meta, TOVIRAX_COUNTERS* counters);

/* While streaming (Tovira_StartPreview, no window needed): waits until a frame with an id above afterId
   (TOVIRAX_NEXT_FRAME: any frame processed after the call began) has been processed, then copies it into
   buffer (may be NULL: the record only) with its record (may be NULL). rowOrder as Tovira_GetImage.
   Returns 1 with a frame, 0 when timeoutMs passed first (nothing recorded), -1 on failure: error 1 when
   not streaming or the stream was stopped, 13 when the camera was lost, 5 when bufferSize is below
   height x stride, 9 for a bad record size or a negative time-out. */
TOVIRA_API int ToviraX_WaitFrame(int hCamera, unsigned long long afterId, int timeoutMs, void* buffer,
                                 int bufferSize, int rowOrder, TOVIRAX_FRAME_META* meta);

/* Hands the library `count` (1..64) buffers of bufferSize bytes each and registers the callback; every
   processed frame then goes into a free buffer and to the callback. When every buffer is out the frame is
   dropped and counted. A NULL callback unregisters: waits for a running callback, discards frames not yet
   called back, and every buffer is the caller's again. Registering replaces an earlier registration. */
TOVIRA_API int ToviraX_SetFrameCallback(int hCamera, TOVIRAX_FRAME_CALLBACK callback, void* user,
                                        void* const* buffers, int count, int bufferSize, int rowOrder);

/* Gives a buffer that the callback received back to the library. 0 with error 9 for a buffer the caller
   does not hold. */
TOVIRA_API int ToviraX_ReturnBuffer(int hCamera, void* buffer);

/* ---- errors and recording ------------------------------------------------------------------------------ */

/* The text of an error code, in Japanese when the system language is Japanese, else in English (the
   A form in the process's code page). Returns 1; 0 for an unknown code (a generic text is written), a
   NULL text or a length below 1, or when the text had to be cut to fit. */
TOVIRA_API int ToviraX_GetErrorText(int code, char* text, int length);
TOVIRA_API int ToviraX_GetErrorTextW(int code, wchar_t* text, int length);

/* Where the end of a recording is told: WM_TOVIRAX_RECORDED posted to window and/or callback called on
   the recording thread; both NULL switch the notice off. */
TOVIRA_API int ToviraX_SetRecordNotify(int hCamera, HWND window, TOVIRAX_RECORD_CALLBACK callback, void* user);

/* ToviraX_RecordEx codecs */
#define TOVIRAX_CODEC_UNCOMPRESSED 0 /* 24-bit bottom-up bitmaps ("DIB "), as Tovira_Record */
#define TOVIRAX_CODEC_MJPEG 1        /* Motion JPEG ("MJPG"): one baseline JPEG a frame, quality 1..100 */
#define TOVIRAX_CODEC_GREY8 2        /* 8-bit grey bitmaps ("DIB " with a grey palette); colour modes 8 and
                                        16 only (12-bit samples give their bits 4..11) */

/* Tovira_Record with a codec. The file is an AVI of one video stream, in the large-file layout (AVI 2.0)
   when it may pass 1 GiB; like Tovira_Record it is complete however the recording ends (its time, a stop,
   a lost camera, a full disk, the process ending). The frames are converted and compressed on the
   recording thread, never the frame loop: when it cannot keep up, it takes the newest frame and counts
   the ones it left out (ToviraX_GetRecordStatus). quality is used by TOVIRAX_CODEC_MJPEG only. 1; 0 with
   error 9 for an unknown codec, a quality outside 1..100, TOVIRAX_CODEC_GREY8 in a colour mode, a bad name
   or duration, and the errors of Tovira_Record otherwise. */
TOVIRA_API int ToviraX_RecordEx(int hCamera, const char* fileName, int milliseconds, int showWindow, int codec,
                                int quality);
TOVIRA_API int ToviraX_RecordExW(int hCamera, const wchar_t* fileName, int milliseconds, int showWindow, int codec,
                                 int quality);

/* The running recording's counts, or the last one's once it ended. The caller sets size (at least 40). */
typedef struct TOVIRAX_RECORD_STATUS {
    int size;                          /* 40 */
    int recording;                     /* 1 while a recording runs */
    int codec;                         /* a TOVIRAX_CODEC_ value */
    int framesWritten;
    unsigned long long framesDropped;  /* frames left out because the recording was still busy with an
                                          earlier one (or a frame could not be encoded) */
    unsigned long long bytesWritten;   /* frame data in the file, without headers and index */
    long long elapsedMs;               /* from the first frame to the last one taken */
} TOVIRAX_RECORD_STATUS;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(TOVIRAX_RECORD_STATUS) == 40, "TOVIRAX_RECORD_STATUS is 40 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TOVIRAX_RECORD_STATUS) == 40, "TOVIRAX_RECORD_STATUS is 40 bytes");
#else
typedef char tovirax_record_status_is_40_bytes[sizeof(TOVIRAX_RECORD_STATUS) == 40 ? 1 : -1];
#endif

/* 1 with the counts; 0 with error 9 for a NULL status or a size below 40. Any thread, any time, also
   from inside the recording's own notice. */
TOVIRA_API int ToviraX_GetRecordStatus(int hCamera, TOVIRAX_RECORD_STATUS* status);

/* ---- status ---------------------------------------------------------------------------------------------- */

/* Registers the status callback of a handle (NULL: none), replacing an earlier one. Programs without a
   window learn from it that the camera was lost, that a stream ended and that a recording ended. Returns
   1; 0 with error 1 when called from inside the status callback, 3 when its thread cannot start. */
TOVIRA_API int ToviraX_SetStatusCallback(int hCamera, TOVIRAX_STATUS_CALLBACK callback, void* user);

/* ---- frame format and settings ---------------------------------------------------------------------- */

/* TOVIRAX_FRAME_FORMAT.channelOrder */
#define TOVIRAX_CHANNELS_RAW 0   /* one sample per pixel: the Bayer mosaic (see bayerPhase) */
#define TOVIRAX_CHANNELS_BGR 1   /* blue, green, red */
#define TOVIRAX_CHANNELS_BGRX 2  /* blue, green, red and a fourth sample the SDK does not use */

/* The frame a handle delivers with its current settings, before any frame comes: what ToviraX_WaitFrame,
   ToviraX_SetFrameCallback, Tovira_GetImage, Tovira_SnapShot and Tovira_CallBackPreview write with the
   same row order. The caller sets size (at least 52) before the call. */
typedef struct TOVIRAX_FRAME_FORMAT {
    int size;                      /* 52 */
    int width;                     /* pixels, after sub-sampling */
    int height;
    int stride;                    /* bytes per row: width x bitsPerPixel / 8 rounded up to a multiple of 4 */
    int bytesPerFrame;             /* height x stride: the buffer size to pass */
    int bitsPerPixel;              /* 8, 16, 24, 32, 48 or 64, as set with Tovira_SetColorMode */
    int bitsPerSample;             /* 8, or 12 significant bits in 16-bit little-endian words */
    int channels;                  /* 1 (raw), 3 or 4 */
    int channelOrder;              /* TOVIRAX_CHANNELS_RAW, _BGR or _BGRX */
    int rowOrder;                  /* as asked: 1 the top row first, 0 the bottom row first */
    int bayerPhase;                /* raw frames: the Bayer mode (0..3, see the Bayer phase in docs/api.md)
                                      of the buffer's first two rows as delivered; -1 for colour frames */
    int subSample;                 /* 0 full, 1 half, 2 quarter (as Tovira_GetSubSample) */
    int reserved;
} TOVIRAX_FRAME_FORMAT;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(TOVIRAX_FRAME_FORMAT) == 52, "TOVIRAX_FRAME_FORMAT is 52 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TOVIRAX_FRAME_FORMAT) == 52, "TOVIRAX_FRAME_FORMAT is 52 bytes");
#else
typedef char tovirax_frame_format_is_52_bytes[sizeof(TOVIRAX_FRAME_FORMAT) == 52 ? 1 : -1];
#endif

/* The format of the frames the handle delivers with its current settings, for rowOrder (nonzero: top row
   first). Works before streaming and while streaming. 1; 0 with error 9 for a NULL format or a size
   below 52, 7 when the capture window lies outside the sensor. */
TOVIRA_API int ToviraX_GetFrameFormat(int hCamera, int rowOrder, TOVIRAX_FRAME_FORMAT* format);

/* ToviraX_InitializeEx flags */
#define TOVIRAX_INIT_NO_STORED_SETTINGS 0x1  /* neither read nor write the settings kept in the registry */

/* Tovira_Initialize with flags. With TOVIRAX_INIT_NO_STORED_SETTINGS the instance starts from the
   defaults (as ToviraX_ResetSettings), whatever the registry holds, creates nothing there, and
   Tovira_Release stores nothing; other programs and handles are not affected. The camera dialog
   (Tovira_SetCameraDlg) still edits its presets and values in the registry. 0 for unknown flags. */
TOVIRA_API int ToviraX_InitializeEx(HWND notifyWindow, int flags);

/* Every setting of the instance back to its default: 24-bit colour, full frame, no sub-sampling, full
   clock, wait time 10 ms; gains 64, exposure 2748 lines, no mirrors, auto iris off; neutral image
   filters, Bayer gains 100, gamma 100, Bayer mode 3, white balance off; the grey page from the camera's
   serial ROM. 1; 0 when a setter failed (its error is recorded). */
TOVIRA_API int ToviraX_ResetSettings(int hCamera);

/* Writes every setting of the instance to fileName, a text file of [sections] and name = value lines
   (replaced when it exists). 1; 0 with error 12 when the file cannot be written, 9 for a NULL name. */
TOVIRA_API int ToviraX_SaveSettings(int hCamera, const char* fileName);

/* Reads a file of ToviraX_SaveSettings and applies all of it, or nothing: every setting must be there
   once, with a whole number in its range, in its section, and nothing else may be (blank lines and
   lines starting with ';' or '#' are comments). 1; 0 with error 12 when the file cannot be read, 9 when
   its content is refused; message (may be NULL) then receives a line that names the line, the setting
   and the problem, e.g. "line 14: [Analog] Exposure = 9000 is outside 0..8192". */
TOVIRA_API int ToviraX_LoadSettings(int hCamera, const char* fileName, char* message, int messageLength);

#ifdef __cplusplus
}
#endif

#endif /* TOVIRASDK_Z400KX_EXT_H */
