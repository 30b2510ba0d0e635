#pragma once
// Rewind: plays the local recordings the recorder writes (".mvp" files and the working
// file), and exports them to MP4. A shared library beside the program, as vdec is, with
// a small C interface; the program links against librewind.so and finds it next to
// itself at run time.
//
// Handles are serial numbers starting at 1; 0 never names a playback and a handle is
// never given out twice while the library is loaded, so a stale handle reaches nothing.
// Every export may be called from any thread. TARN_PB_DelPlay may be called from inside
// the status callback (it then returns without waiting for the play thread, which is the
// caller).

#define REWIND_API extern "C" __attribute__((visibility("default")))

// Where a playback's pictures go: the program's display path for one video cell. The
// library calls it on its play thread; it must stay valid until TARN_PB_DelPlay returns.
struct TARN_PB_Display {
    void* user;
    // One decoded picture, planar 4:2:0 as vdec writes it (Y, then V, then U; no row
    // padding; width * height * 3 / 2 bytes), and the recorded local time of the frame
    // in seconds since 1970.
    void (*showPicture)(void* user, const unsigned char* yuv, int width, int height, long long frameTime);
};

// Status messages the callback receives (the program posts them to its window unchanged).
#define TARN_PB_MSG_POSITION 2022  // lParam: position, seconds since 1970 (recorded time)
#define TARN_PB_MSG_FINISHED 2024  // the file has been played to its end (or cannot go on)

// Called on the library's play thread.
typedef void (*TARN_PB_StatusCallBack)(long handle, unsigned int message, unsigned long wParam, long lParam,
                                       void* user);

// Error codes (0 is success).
#define TARN_PB_OK 0
#define TARN_PB_ERR_ARGUMENT -1     // a null or empty argument
#define TARN_PB_ERR_OPEN -2         // the file cannot be opened or read
#define TARN_PB_ERR_FORMAT -3       // not a recording, or nothing playable in it
#define TARN_PB_ERR_DECODER -4      // no decoder could be made (vdec missing or failing)
#define TARN_PB_ERR_HANDLE -5       // no playback with that handle
#define TARN_PB_ERR_COMMAND -6      // an unknown command
#define TARN_PB_ERR_WRITE -7        // export: the output cannot be written (disk full, no right)
#define TARN_PB_ERR_CANCELLED -8    // export: the progress callback asked to stop
#define TARN_PB_ERR_RANGE -9        // export: no frames in the asked time range

// Starts playing `path` into `display` from its first key frame; stores the handle.
REWIND_API int TARN_PB_StartPlay(const TARN_PB_Display* display, const char* path, long* handle);
// A text for an error code (never null; unknown codes get a text too).
REWIND_API const char* TARN_PB_GetErrDis(int code);
REWIND_API void TARN_PB_SetStatusCallBack(long handle, TARN_PB_StatusCallBack callback, void* user);
// Commands: 1 resume (value 0), 2 pause (value 0), 5 seek to `value` seconds since 1970
// (the key frame at or before that time; before the file's start: its start).
#define TARN_PB_CMD_RESUME 1
#define TARN_PB_CMD_PAUSE 2
#define TARN_PB_CMD_SEEK 5
REWIND_API int TARN_PB_PlayCtrl(long handle, int command, long long value);
// Stops the playback and releases the handle.
REWIND_API void TARN_PB_DelPlay(long handle);

// Export: the H.264 frames of `path` between `fromTime` and `toTime` (seconds since
// 1970, recorded time; 0 and 0 = the whole file), from the key frame at or before
// `fromTime`, remuxed without re-encoding into an MP4 file at `outPath` with the
// recorded frame times. `progress` (may be null) is called now and then with the
// frames done and the frames to do; returning non-zero cancels (the output is
// removed). A failure removes the partial output.
typedef int (*TARN_PB_ExportProgress)(long long done, long long total, void* user);
REWIND_API int TARN_PB_Export(const char* path, const char* outPath, long long fromTime, long long toTime,
                              TARN_PB_ExportProgress progress, void* user);
