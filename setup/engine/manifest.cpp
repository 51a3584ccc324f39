#include "manifest.h"

const ManifestEntry kInstallManifest[kManifestSize] = {
    {"curatoapp.EXE", true},
    {"curatoprint.EXE", true},
    {"czimporter.EXE", true},
    {"HTMLStartPage.htm", true},
    {"ExportTabStartPage.htm", true},
    {"curatohelp.htm", true},
    {"Shdocvw.dll", true},
    {"curato.dll", true},
    {"panecrafter.dll", true},
    {"AxInterop.SHDocVw.dll", true},
    {"Interop.SHDocVw.dll", true},
    {"Microsoft.mshtml.dll", true},
    {"curato.mdb", false},   // the product database: one already there is kept
    {"tall_1.lyo", true},
    {"tall_2.lyo", true},
    {"tall_3.lyo", true},
    {"tall_4.lyo", true},
    {"wide_1.lyo", true},
    {"wide_2.lyo", true},
    {"wide_3.lyo", true},
    {"wide_4.lyo", true},
    {"site_1.lyo", true},
    {"site_2.lyo", true},
    {"site_3.lyo", true},
    {"site_4.lyo", true},
    {"site_5.lyo", true},
    {"site_6.lyo", true},
    {"site_7.lyo", true},
    {"site_8.lyo", true},
    {"site_9.lyo", true},
    {"site_10.lyo", true},
    {"site_11.lyo", true},
    {"site_cream.lyo", true},
    {"site_tartan.lyo", true},
    {"site_foggy.lyo", true},
    {"site_violet.lyo", true},
    {"site_meadow.lyo", true},
    {"site_cedar.lyo", true},
    {"gde_01.gde", true},
    {"gde_02.gde", true},
    {"gde_03.gde", true},
    {"gde_04.gde", true},
    {"gde_05.gde", true},
    {"gde_06.gde", true},
    {"gde_07.gde", true},
    {"gde_08.gde", true},
    {"gde_09.gde", true},
    {"gde_10.gde", true},
    {"azure.wsy", true},
    {"cream.wsy", true},
    {"tartan.wsy", true},
    {"rosy.wsy", true},
    {"cedar.wsy", true},
    {"bmEmptyPicture.bmp", true},
};

const char kBrowserControlLibrary[] = "Shdocvw.dll";
const char kRegisterFunction[] = "DllRegisterServer";

const char kProductName[] = "CuratoNet";
const char kProgramGroupName[] = "Curato";
const char kShortcutName[] = "CuratoNet";
const char kShortcutTarget[] = "Curatoapp.EXE";

// The maker's support address; to be replaced by the real one once known.
#define SUPPORT_ADDRESS "https://support.tamberlabs.example"

const char kSetupFailureText[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000 or XP, It may be necessary to login as an administrator in order to install this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n"
    "The following information should help resolve the problem:\n";
const char kCopyFailureText[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000, 2003, or XP, It is necessary to login as an administrator in order to install this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n"
    "The following information should help resolve the problem:\n";
const char kIconsFailureText[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000 or XP, It is necessary to login as an administrator in order to install this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n";
const char kSupportSuffix[] =
    "\nIf the problem cannot be resolved, contact\nTamber Labs (" SUPPORT_ADDRESS ") for additional assistance";
const char kErrorCaption[] = "Error Detected";
const char kDirectoryFailureText[] =
    "The directory entered was an invalid one.  Please run the installation again and specify a valid directory.";
const char kDirectoryFailureCaption[] = "Invalid Directory";
const char kCompletionText[] =
    "Installation is complete.  To start CuratoNet, click the Windows Start button at the lower left of your screen, "
    "click on the Programs folder, and select CuratoPro.  Select Choose Hobby from the Options menu to initialize "
    "field names for your hobby.";
const char kCompletionHint[] = "Press CLOSE to exit";
const char kCloseCaption[] = "Close";
