// Test helpers: checking all seven values of a raised library exception, and
// replacing one imported system function of the test program for a while.
#pragma once

#include "../common/import_patch.h"
#include "zexcept.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <typeinfo>

// The seven values a raise site builds an exception from.
struct ZRaised {
    const ZErrorDesc* desc;
    const char* operation;
    int rc;
    ZString text;
    const char* file;
    int line;
    ZString detail;
};

// Checks the exception's exact class and its seven values.
template <class Ex>
void ExpectRecord(const ZFatalEx& ex, const ZRaised& want)
{
    EXPECT_NE(nullptr, dynamic_cast<const Ex*>(&ex));
    EXPECT_TRUE(typeid(ex) == typeid(Ex)) << typeid(ex).name();
    EXPECT_EQ(want.desc, ex.desc) << ex.desc->name.c_str();
    EXPECT_STREQ(want.operation, ex.operation);
    EXPECT_EQ(want.rc, ex.rc);
    EXPECT_STREQ(want.text, ex.text);
    ASSERT_EQ(1, ex.infos.GetCount());
    const ZExInfo* info = ex.infos.First()->value;
    EXPECT_STREQ(want.file, info->file);
    EXPECT_EQ(want.line, info->line);
    EXPECT_STREQ(want.detail, info->text);
}

// Runs action, which must raise Ex with the given values.
template <class Ex, class Action>
void ExpectRaised(Action action, const ZRaised& want)
{
    try {
        action();
        ADD_FAILURE() << "nothing raised; expected " << want.operation << " at line " << want.line;
    } catch (const ZFatalEx& ex) {
        ExpectRecord<Ex>(ex, want);
    }
}

// A system error as raise sites report it: the code and the system's text.
template <class Ex, class Action>
void ExpectSystemError(Action action, const ZErrorDesc& desc, const char* operation, int rc,
                       const char* file, int line, const ZString& detail)
{
    ExpectRaised<Ex>(action, {&desc, operation, rc, SystemErrorText(rc), file, line, detail});
}

// A failed ZASSERT( expression ) [ // message ] of the given file and line.
template <class Action>
void ExpectAssertion(Action action, const char* file, int line, const char* expression,
                     const char* message = nullptr)
{
    ExpectRaised<ZInternalEx>(action, {&ZErr::Unexpected, "Assertion Failed", -1, "", file, line,
                                       "\n" + ZAssertText(file, line, expression, message)});
}

// Collects what the library sends to the debugger while it lives.
inline std::string gDebugOutput;
inline void WINAPI RecordingOutputDebugStringA(const char* text)
{
    gDebugOutput += text;
}

class ZDebugOutputRecorder {
public:
    ZDebugOutputRecorder()
        : m_patch("kernel32.dll", "OutputDebugStringA",
                  reinterpret_cast<void*>(&RecordingOutputDebugStringA))
    {
        gDebugOutput.clear();
    }
    bool Installed() const { return m_patch.Installed(); }
    const std::string& Text() const { return gDebugOutput; }

private:
    ZImportPatch m_patch;
};
