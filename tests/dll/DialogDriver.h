#pragma once
// Driving the library's modal dialogs as a user would, from another thread than the one that shows
// them: the dialog runs on its own "application" thread inside an export call, and the test finds its
// windows, moves trackbars, types, clicks, switches tabs and photographs it.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class DialogThread {
public:
    // Starts the thread, which calls the export and keeps its result.
    explicit DialogThread(std::function<int()> showDialog);
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // The thread's visible dialog frame, waiting for it (null after 10 s or when the export returned).
    HWND WaitForFrame();
    // Waits for the export to return (pumping this thread's messages meanwhile); its result, or -999
    // when it did not return within 20 s.
    int Finish();
    bool Finished() const;
    DWORD ThreadId() const { return threadId_; }
    // Every visible dialog frame of the thread.
    std::vector<HWND> Frames() const;

private:
    static DWORD WINAPI Main(void* self);
    std::function<int()> show_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    volatile LONG result_ = -999;
};

// Registers the common controls the dialogs need, as a host application does.
void InitDialogControls();
// Processes this thread's messages for a while.
void PumpFor(DWORD milliseconds);

HWND TabOf(HWND frame);
// The pages of a frame: dialogs that are children of its tab control, in creation order.
std::vector<HWND> PagesOf(HWND frame);
int TabCount(HWND frame);
std::wstring TabText(HWND frame, int index);
// TCM_SETCURSEL followed by the TCN_SELCHANGE notification that a click would send.
void SelectTab(HWND frame, int index);
// TBM_SETPOS followed by the WM_HSCROLL that dragging the thumb would send.
void MoveTrackbar(HWND page, int trackbar, int position);
int TrackbarPosition(HWND page, int trackbar);
void TypeNumber(HWND dialog, int edit, int value);
int NumberIn(HWND dialog, int edit);
void Click(HWND dialog, int button);
bool Checked(HWND dialog, int button);
bool Enabled(HWND dialog, int control);
// CB_SETCURSEL followed by the CBN_SELCHANGE notification.
void ChooseListEntry(HWND dialog, int list, int index);
int ListSelection(HWND dialog, int list);
std::vector<std::wstring> ListTexts(HWND dialog, int list);
std::wstring TextOf(HWND window);
std::wstring ControlText(HWND dialog, int control);

// Saves the window as it is on screen (BitBlt from its window DC into a 24-bit DIB) as
// <build>/screenshots/<name>.png. Returns the path, empty on failure.
std::string SaveScreenshot(HWND window, const std::string& name);

// Registry helpers on the library's settings key.
void DeleteSettingsKey();
// A REG_DWORD below the key ("" for the key itself); -12345 when missing.
int ReadSetting(const char* subKey, const char* name);
void WriteSetting(const char* subKey, const char* name, int value);
