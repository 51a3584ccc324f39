// ZString: the text type of the whole system, a byte string in the active
// ANSI code page with an explicit length and a terminating NUL; plus the small
// text helpers of the library.
#pragma once

#include <cstddef>

class ZString {
public:
    ZString();
    // Implicit on purpose: literals and C strings are used wherever a ZString
    // is wanted, as with any value type for text.
    // cppcheck-suppress noExplicitConstructor
    ZString(const char* s);
    ZString(const char* s, int n);
    ZString(char c, int n);
    ZString(const ZString& other);
    ZString(ZString&& other) noexcept;
    ~ZString();

    ZString& operator=(const ZString& other);
    ZString& operator=(ZString&& other) noexcept;
    ZString& operator=(const char* s);

    int GetLength() const { return m_len; }
    bool IsEmpty() const { return m_len == 0; }
    operator const char*() const { return m_p; }
    const char* c_str() const { return m_p; }

    ZString Left(int n) const;
    ZString Right(int n) const;
    ZString Mid(int i) const;

    int Replace(const char* oldText, const char* newText);
    int Remove(char c);
    int ReverseFind(char c) const;
    void MakeUpper();

    // A writable buffer holding the text with room for n bytes plus the NUL.
    // Writing through it does not change the recorded length.
    char* GetBuffer(int n);

    ZString& operator+=(const ZString& s);
    ZString& operator+=(const char* s);

    friend ZString operator+(const ZString& a, const ZString& b);
    friend ZString operator+(const ZString& a, const char* b);
    friend ZString operator+(const char* a, const ZString& b);
    friend ZString operator+(const ZString& a, char c);

private:
    void Assign(const char* s, int n);
    void Append(const char* s, int n);
    void Reserve(int n);
    void Release();

    char* m_p;   // never null; points at a shared empty text while m_cap is 0
    int m_len;
    int m_cap;   // bytes owned at m_p, not counting the NUL
};

// sprintf into a buffer of size bytes through the system's C runtime (the
// C99 formatter of the MinGW runtime would add 24 KB to setup.exe): output
// that does not fit is cut at the buffer's end, which always ends the text.
void FormatInto(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));
ZString FormatInt(int value, const char* format);
ZString UpperCopy(const char* text);
ZString JoinPath(const ZString& a, const ZString& b);
ZString JoinPath(const ZString& a, const char* b);
int RandomInRange(int lo, int hi);
ZString ModuleListing();

// One entry of the optional module registry that ModuleListing reports.
struct ZModuleEntry {
    ZString name;
    ZString version;
    ZString date;
};
template <class T> class ZTemplateList;
extern ZTemplateList<ZModuleEntry*>* gModuleRegistry;
