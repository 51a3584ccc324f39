// The setup application: the session log, the application object and its
// start-up.
#pragma once

#include <cstdio>

// The session log "C:\setup.log", opened for appending in text mode before any
// other object of the program exists; trace lines are its only content.
extern FILE* gSetupLog;

class CSetupApp {
public:
    CSetupApp();
    CSetupApp(const CSetupApp&) = delete;
    CSetupApp& operator=(const CSetupApp&) = delete;

    // Writes the start-up line, checks the program file and runs the
    // backdrop until it is destroyed. Always false: there is no message loop
    // to enter afterwards.
    bool InitInstance();
    // The process's exit code after InitInstance: 0, or 1 when the program
    // file was found damaged.
    int Run();

private:
    int m_nExitCode;
};
