// Page 40, the installing page. Its dialog initialisation is the whole
// install: the page shows the progress and reports failures in message boxes.
#pragma once

#include "wizard.h"

class ZFatalEx;

class CWizStep40 : public CWizStepBase {
public:
    explicit CWizStep40(CWizardDlg* wizard);
    int GetNextStep() override { return 0; }
    int GetPrevStep() override { return 0; }

    // Runs every stage of the install; false when the destination directory
    // could not be made, which ends the install at once.
    bool RunInstallSequence();
    // Writes one payload entry into the destination directory and runs the
    // progress bar from empty to full. Extraction failures are raised.
    void InstallPayloadFile(const char* name, bool overwrite);

protected:
    BOOL OnInitDialog() override;

private:
    void SetUpPage();
    void CreateDirectories();
    void CopyFiles();
    void RegisterBrowserControl();
    void CreateProgramGroup();
    void Finish();

    void SetMajorText(const char* text);
    void SetMinorText(const char* text);
    void Repaint();
    void ShowFailure(const char* text, const ZFatalEx& ex);

    HWND m_hCaption;
    HWND m_hProgress;
    HWND m_hMinor;
    HWND m_hMajor;
};
