// Points gTraceSink at a fresh temporary file while it lives.
#pragma once

#include "ztrace.h"

#include <windows.h>

#include <string>
#include <vector>

class TraceCapture {
public:
    TraceCapture() : saved(gTraceSink)
    {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "ztr", 0, path);
        file = fopen(path, "w+");
        gTraceSink = file;
    }
    ~TraceCapture()
    {
        gTraceSink = saved;
        fclose(file);
        DeleteFileA(path);
    }
    std::vector<std::string> Lines()
    {
        fflush(file);
        rewind(file);
        std::vector<std::string> lines;
        char buffer[512];
        while (fgets(buffer, sizeof buffer, file))
            lines.push_back(buffer);
        fseek(file, 0, SEEK_END);
        return lines;
    }

private:
    FILE* saved;
    FILE* file;
    char path[MAX_PATH];
};

inline std::string OwnPidTag()
{
    return ZPidTag(static_cast<int>(GetCurrentProcessId())).c_str();
}
