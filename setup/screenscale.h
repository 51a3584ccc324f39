// What the setup sizes in pixels, made for the display scale of the screen.
//
// Dialogs follow the display scale by themselves: dialog units follow the
// dialog's font, which the system makes for the screen. A picture or a font
// made in pixels does not, and above 100 % it would look ever smaller. The
// setup declares itself aware of the system's scale (its manifest), so Windows
// does not stretch its windows as a bitmap, which blurs every text; what it
// sizes in pixels it sizes for the scale itself. Such sizes are given as at
// 100 % (96 dots per inch) and multiplied by the screen's dots per inch over
// 96, read from the screen when they are needed (GetDeviceCaps, LOGPIXELSY,
// which every Windows version has). At 96 dots per inch nothing changes.
#pragma once

#include <windows.h>

// A length given in pixels at 96 dots per inch, at the screen's scale.
int ScaleToScreen(int pixels);

// The bitmap of a picture control (a static control with SS_BITMAP) shown at
// the screen's scale. Above or below 96 dots per inch, a copy stretched
// smoothly from the control's own bitmap replaces it; that copy is this
// object's, and so is the control's own bitmap once replaced, which is
// deleted at once. At 96 dots per inch the control keeps its own bitmap.
//
// A dialog grows with its font, and a font does not grow exactly with the
// scale (at 200 % a dialog may grow by less than twice): a picture grown with
// the scale could then spill out of the room its dialog gives it. Within that
// room it keeps its proportions and fills as much as it can.
class CScaledPicture {
public:
    CScaledPicture() : m_hControl(NULL), m_hCopy(NULL) {}
    ~CScaledPicture() { Release(); }
    CScaledPicture(const CScaledPicture&) = delete;
    CScaledPicture& operator=(const CScaledPicture&) = delete;

    // Once, while the control shows its own bitmap; room is the largest size
    // it may have, in pixels. A copy that cannot be made leaves the control as
    // it is.
    void Show(HWND control, SIZE room);
    // Takes the copy from the control and deletes it; called while the
    // control still exists (its dialog's WM_DESTROY, or this object's end).
    void Release();

private:
    HWND m_hControl;
    HBITMAP m_hCopy;
};
