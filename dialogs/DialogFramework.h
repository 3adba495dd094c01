// What the three settings dialogs share: the choice of language and template, the library's module
// handle, tabs and pages, the trackbar-edit-up-down triplets, and the one-object-per-kind dispatch of the
// dialog procedures.
#pragma once

#include <windows.h>

#include <atomic>

namespace tovira {

// The system's default language decides, not the user's interface language: 1041 (Japanese) picks the
// Japanese templates, anything else the English ones.
bool SystemIsJapanese();
inline int ChooseTemplate(int japanese, int english) { return SystemIsJapanese() ? japanese : english; }

// The library's own module, found by its file name (null when the library was renamed: every dialog
// then fails to open, which the callers treat as Cancel).
HMODULE LibraryModule();

// DialogBoxParamA with the library's template: 1 after OK, 2 after Cancel, -1 when it cannot be created.
INT_PTR ShowModalFrame(int japanese, int english, HWND owner, DLGPROC procedure);
// A page: modeless child of the frame's tab control.
HWND CreatePage(int japanese, int english, HWND tab, DLGPROC procedure);
// Inserts a tab with a plain (code page) text at the given position.
void InsertTab(HWND tab, int position, const char* text);
// Places a page at (30, 25) in the tab control, keeping its size, shown or hidden.
void PlacePage(HWND page, bool shown);
// TCN_SELCHANGE: tab 0 shows the first page, tab 1 the second (when there is one).
void SwitchPages(HWND tab, HWND first, HWND second);

// Sets up a triplet: range, position and tick frequency of the trackbar, range, position and buddy of
// the up-down, the number in the edit box, and the enable state of all three.
void SetupTriplet(HWND dialog, int trackbar, int upDown, int edit, int minimum, int maximum, int value,
                  int tickFrequency, bool enable);
// Moves a trackbar (redrawn); the trackbar clamps to its own range.
void MoveTrackbar(HWND dialog, int trackbar, int value);
// The signed number in an edit box (0 when it holds none).
int ReadSignedInt(HWND dialog, int edit);
bool IsChecked(HWND dialog, int button);
void SetChecked(HWND dialog, int button, bool checked);

// The platform's dialog procedures have no room for an object: each kind of dialog object has one
// process-wide pointer, and the kind's procedure forwards every message to the object it names.
// Claim() takes the pointer only when no object of the kind holds it, so a second dialog of a kind
// (from any thread) is refused instead of stealing the first one's messages.
template <typename T>
class DialogKind {
public:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        T* self = current_.load(std::memory_order_acquire);
        return self ? self->HandleMessage(window, message, wParam, lParam) : 0;
    }

protected:
    static bool Claim(T* self) {
        T* expected = nullptr;
        return current_.compare_exchange_strong(expected, self, std::memory_order_acq_rel);
    }
    static void Release(T* self) {
        T* expected = self;
        current_.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }

private:
    static inline std::atomic<T*> current_{nullptr};
};

}  // namespace tovira
