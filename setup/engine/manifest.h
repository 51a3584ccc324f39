// What the install sequence installs, in copy order, and the texts it shows.
#pragma once

struct ManifestEntry {
    const char* name;   // payload entry name and file name in the destination
    bool overwrite;     // false: a file already there is kept
};

enum { kManifestSize = 54 };
extern const ManifestEntry kInstallManifest[kManifestSize];

// Written and registered once more in the registration stage.
extern const char kBrowserControlLibrary[];
extern const char kRegisterFunction[];

extern const char kProductName[];
extern const char kProgramGroupName[];
extern const char kShortcutName[];
extern const char kShortcutTarget[];

extern const char kSetupFailureText[];
extern const char kCopyFailureText[];
extern const char kIconsFailureText[];
extern const char kSupportSuffix[];
extern const char kErrorCaption[];
extern const char kDirectoryFailureText[];
extern const char kDirectoryFailureCaption[];
extern const char kCompletionText[];
extern const char kCompletionHint[];
extern const char kCloseCaption[];
