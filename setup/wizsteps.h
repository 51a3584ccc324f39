// The welcome, licence and destination pages of the wizard, and the
// destination directory they leave for the install.
#pragma once

#include "screenscale.h"
#include "wizard.h"

// The destination directory: written by the destination page, read by the
// install. Empty until the destination page has been shown.
extern ZString gDestDir;

// Page 10: a picture, at the screen's scale, and Next.
class CWizStep10 : public CWizStepBase {
public:
    explicit CWizStep10(CWizardDlg* wizard);
    int GetNextStep() override { return 20; }
    int GetPrevStep() override { return 0; }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog() override;

private:
    CScaledPicture m_picture;
};

// Page 20: the licence text; Next only while the acceptance box is checked.
class CWizStep20 : public CWizStepBase {
public:
    explicit CWizStep20(CWizardDlg* wizard);
    int GetNextStep() override;
    int GetPrevStep() override { return 10; }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog() override;
};

// Page 30: the destination directory, kept in gDestDir.
class CWizStep30 : public CWizStepBase {
public:
    explicit CWizStep30(CWizardDlg* wizard);
    int GetNextStep() override { return 40; }
    int GetPrevStep() override { return 20; }

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    BOOL OnInitDialog() override;

private:
    void BrowseForFolder();
};
