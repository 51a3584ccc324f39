// The wizard frame with Back, Next and Cancel, and the page protocol: the frame
// owns one page at a time, identified by a page id, and asks it where Next and
// Back lead.
#pragma once

#include "dialog.h"

class CSetupMain;
class CWizardDlg;

// The base of every wizard page: a child dialog of the frame.
class CWizStepBase : public CDialog {
public:
    CWizStepBase(UINT templateId, CWizardDlg* wizard);

    // The page id Next leads to, 0 when Next is not possible now.
    virtual int GetNextStep() { return 0; }
    // The page id Back leads to, 0 when Back is not possible.
    virtual int GetPrevStep() { return 0; }

    // The page's side of the Tab ring.
    bool PreTranslateMessage(MSG* msg) override;

protected:
    void OnOK() override;       // Enter inside a page: Next
    void OnCancel() override;   // Esc inside a page: the frame's Cancel

    CWizardDlg* m_pWizard;
};

class CWizardDlg : public CDialog {
public:
    explicit CWizardDlg(CSetupMain* main);
    ~CWizardDlg() override;

    // Enables Back and Next from the current page and gives Next or Cancel the
    // default-button look.
    void UpdateButtons();
    void OnNext();
    void OnBack();
    void OnCancel() override;

    // The frame's side of the Tab ring.
    bool PreTranslateMessage(MSG* msg) override;

    bool m_bFinished;            // set by the install sequence on completion
    CWizStepBase* m_pCurStep;    // owned
    CSetupMain* m_pMain;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}      // the frame's own OK does nothing

private:
    void GoToStep(int id);
    void FocusDefaultButtonIfStranded();

    HWND m_hCancel;
    HWND m_hNext;
    HWND m_hBack;
};

// A new page for the id with its window created as a child of the frame, or
// null for an unknown id. The caller owns the result.
CWizStepBase* CreateWizStep(int id, CWizardDlg* wizard);

// The first and the last child of the window that Tab can stop on: a control
// id other than 0xFFFF, enabled, and not a nested dialog. Both null when none.
void FindTabEnds(HWND parent, HWND* first, HWND* last);
