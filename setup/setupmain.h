// The backdrop: the setup's main window, painted with a gradient, the product
// title and the maker's name, with the wizard frame floating above it. It owns
// the frame and decides what Cancel and Close mean.
#pragma once

#include "dialog.h"

class CWizardDlg;

class CSetupMain : public CDialog {
public:
    CSetupMain();
    ~CSetupMain() override;

    // Every cancel route ends here: before completion it asks and abandons the
    // setup; after completion it starts the installed application.
    void OnCancel() override;

    HICON m_hIcon;
    CWizardDlg* m_pWizard;   // owned

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog() override;

private:
    void PlaceOnDesktop();
    void AddAboutToSystemMenu();
    void OnSize();
    void FocusWizardAgain();
    void RaiseWizard(HWND focus);
    void OnPaint();
    void PaintIcon(HDC dc);
    void PaintBackdrop(HDC dc);
    void OnHelp();
    void OnDestroy();
    void LaunchInstalledApp();
};

// The About box, run modally from the backdrop's system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    BOOL OnInitDialog() override;
};
