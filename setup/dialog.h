// The setup's thin dialog layer on plain Win32. Every window of the setup is a
// dialog built from a template; one C++ object stands behind each dialog
// window. A static dialog procedure hands each message to the object's
// virtual OnMessage, whose switch is that class's message map.
#pragma once

#include "zstring.h"

#include <windows.h>

class CDialog {
public:
    explicit CDialog(UINT templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally with the system's dialog box loop.
    INT_PTR DoModal(HWND parent);
    // Creates the dialog window modelessly; false when the window could not be made.
    bool Create(HWND parent);
    // Creates the dialog modelessly and runs its own message loop, with the
    // pre-translation of every dialog on the message's way, until the window
    // is destroyed or EndDialog is called. Returns the EndDialog code (0 when
    // the window was destroyed).
    INT_PTR RunModalLoop(HWND parent);
    void EndDialog(INT_PTR code);
    void DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    // Keyboard pre-translation before a message is dispatched; true when the
    // message was consumed. The default is the system's dialog processing.
    virtual bool PreTranslateMessage(MSG* msg);
    // Offers the message to every dialog object from the message's window up
    // through its parents and owners; true when one of them consumed it.
    static bool WalkPreTranslate(MSG* msg);

protected:
    // The message map. Returns true when the message was handled, with
    // result the dialog procedure's answer for it.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND m_hWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static CDialog* FromHandle(HWND hWnd);
    void Attach(HWND hWnd);
    void Detach();
    void WakeLoop();

    UINT m_templateId;
    bool m_modal;        // run by DoModal: ended with the system's EndDialog
    bool m_looping;      // RunModalLoop runs
    bool m_loopEnded;    // RunModalLoop: EndDialog called
    INT_PTR m_loopResult;
};

// While a guard lives, the setup's own modeless windows (the backdrop, the
// wizard frame and its pages) take no requests: no close, no command, no
// system command and no end of the session. It is held while the setup waits
// in a message loop on behalf of a window that such a request would delete:
// the install, whose failures are shown in message boxes, the cancel
// confirmation and the folder browser. Those loops hand on whatever is posted
// to the setup's windows; a request arriving then is dropped, and the question
// whether the session may end is answered no. The install also answers what is
// sent to the windows between its stretches of work (answering.h): a request
// sent then is dropped the same way, and so is whatever would start a loop of
// the system's own there (moving or sizing a window, a menu), which would take
// the queued clicks and keys before the install has returned; this also for a
// modal dialog such as the About box, opened before the install. Dropped, not
// held: a close held until the install has returned would meet a finished
// install, where Cancel has become Close and starts the product, which is not
// what was asked; a second cancel held behind the confirmation would ask again
// at once. The user can repeat a request once the setup can take it. Reports
// of a control's state (a check box clicked, an edit losing the focus) and the
// windows' own upkeep (painting, moving, sizing) still go through, as does
// everything for a modal dialog such as the About box, which deletes nothing
// when it ends.
class CRequestGuard {
public:
    CRequestGuard() { ++s_held; }
    ~CRequestGuard() { --s_held; }
    CRequestGuard(const CRequestGuard&) = delete;
    CRequestGuard& operator=(const CRequestGuard&) = delete;

    static bool Held() { return s_held > 0; }

private:
    static int s_held;
};

// The whole text of a window or control.
ZString WindowText(HWND hWnd);
