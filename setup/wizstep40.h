// Page 40, the installing page.
#pragma once

#include "wizard.h"

class CWizStep40 : public CWizStepBase {
public:
    explicit CWizStep40(CWizardDlg* wizard);
    int GetNextStep() override { return 0; }
    int GetPrevStep() override { return 0; }

protected:
    BOOL OnInitDialog() override;
};
