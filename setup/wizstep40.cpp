#include "wizstep40.h"

#include "resource.h"

CWizStep40::CWizStep40(CWizardDlg* wizard) : CWizStepBase(IDD_WIZSTEP40, wizard)
{
}

// The install sequence runs here; until it is in, the page only shows itself.
BOOL CWizStep40::OnInitDialog()
{
    return TRUE;
}
