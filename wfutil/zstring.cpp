#include "zstring.h"

#include "zinit.h"
#include "zlist.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

namespace {

char gEmptyText[1] = {0};

// A double-byte character of the active code page: a lead byte followed by its
// trail byte. A lead byte at the very end stands alone.
int CharLength(const char* p, int remaining)
{
    if (remaining >= 2 && IsDBCSLeadByte(static_cast<BYTE>(*p)))
        return 2;
    return 1;
}

int Clamp(int n, int lo, int hi)
{
    return n < lo ? lo : (n > hi ? hi : n);
}

bool gRandomSeeded = false;

} // namespace

ZTemplateList<ZString> gStringList Z_INIT(Z_INIT_STRINGS);
ZTemplateList<ZModuleEntry*>* gModuleRegistry = nullptr;

ZString::ZString() : m_p(gEmptyText), m_len(0), m_cap(0) {}

ZString::ZString(const char* s) : ZString()
{
    if (s)
        Assign(s, static_cast<int>(strlen(s)));
}

ZString::ZString(const char* s, int n) : ZString()
{
    if (s && n > 0)
        Assign(s, n);
}

ZString::ZString(char c, int n) : ZString()
{
    if (n < 1)
        return;
    Reserve(n);
    memset(m_p, c, n);
    m_len = n;
    m_p[n] = 0;
}

ZString::ZString(const ZString& other) : ZString()
{
    Assign(other.m_p, other.m_len);
}

ZString::ZString(ZString&& other) noexcept : m_p(other.m_p), m_len(other.m_len), m_cap(other.m_cap)
{
    other.m_p = gEmptyText;
    other.m_len = 0;
    other.m_cap = 0;
}

ZString::~ZString()
{
    Release();
}

ZString& ZString::operator=(const ZString& other)
{
    if (this != &other)
        Assign(other.m_p, other.m_len);
    return *this;
}

ZString& ZString::operator=(ZString&& other) noexcept
{
    if (this != &other) {
        Release();
        m_p = other.m_p;
        m_len = other.m_len;
        m_cap = other.m_cap;
        other.m_p = gEmptyText;
        other.m_len = 0;
        other.m_cap = 0;
    }
    return *this;
}

ZString& ZString::operator=(const char* s)
{
    if (!s)
        s = "";
    // s may point into this string's own buffer.
    ZString copy(s);
    return *this = static_cast<ZString&&>(copy);
}

void ZString::Release()
{
    if (m_cap > 0)
        free(m_p);
    m_p = gEmptyText;
    m_len = 0;
    m_cap = 0;
}

void ZString::Reserve(int n)
{
    if (n <= m_cap)
        return;
    char* p = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (!p)
        throw std::bad_alloc();
    memcpy(p, m_p, static_cast<size_t>(m_len) + 1);
    if (m_cap > 0)
        free(m_p);
    m_p = p;
    m_cap = n;
}

void ZString::Assign(const char* s, int n)
{
    if (n <= 0) {
        m_len = 0;
        m_p[0] = 0;
        return;
    }
    if (s >= m_p && s <= m_p + m_len) {   // a part of this very text
        ZString copy(s, n);
        *this = static_cast<ZString&&>(copy);
        return;
    }
    m_len = 0;
    Reserve(n);
    memcpy(m_p, s, n);
    m_len = n;
    m_p[n] = 0;
}

void ZString::Append(const char* s, int n)
{
    if (n <= 0)
        return;
    if (s >= m_p && s <= m_p + m_len) {
        ZString copy(s, n);
        Append(copy.m_p, copy.m_len);
        return;
    }
    if (m_len + n > m_cap)
        Reserve(m_len + n > 2 * m_cap ? m_len + n : 2 * m_cap);
    memcpy(m_p + m_len, s, n);
    m_len += n;
    m_p[m_len] = 0;
}

ZString ZString::Left(int n) const
{
    return ZString(m_p, Clamp(n, 0, m_len));
}

ZString ZString::Right(int n) const
{
    n = Clamp(n, 0, m_len);
    return ZString(m_p + m_len - n, n);
}

ZString ZString::Mid(int i) const
{
    i = Clamp(i, 0, m_len);
    return ZString(m_p + i, m_len - i);
}

int ZString::Replace(const char* oldText, const char* newText)
{
    if (!oldText || !*oldText)
        return 0;
    if (!newText)
        newText = "";
    const int oldLen = static_cast<int>(strlen(oldText));
    const int newLen = static_cast<int>(strlen(newText));
    ZString result;
    int count = 0;
    int pos = 0;
    while (pos <= m_len - oldLen) {
        if (memcmp(m_p + pos, oldText, oldLen) == 0) {
            result.Append(newText, newLen);
            pos += oldLen;
            ++count;
        } else {
            result.Append(m_p + pos, 1);
            ++pos;
        }
    }
    if (count > 0) {
        result.Append(m_p + pos, m_len - pos);
        *this = static_cast<ZString&&>(result);
    }
    return count;
}

int ZString::Remove(char c)
{
    int out = 0;
    int removed = 0;
    for (int i = 0; i < m_len;) {
        const int n = CharLength(m_p + i, m_len - i);
        if (n == 1 && m_p[i] == c) {
            ++removed;
        } else {
            memmove(m_p + out, m_p + i, n);
            out += n;
        }
        i += n;
    }
    if (removed > 0) {
        m_len = out;
        m_p[out] = 0;
    }
    return removed;
}

int ZString::ReverseFind(char c) const
{
    int found = -1;
    for (int i = 0; i < m_len;) {
        const int n = CharLength(m_p + i, m_len - i);
        if (n == 1 && m_p[i] == c)
            found = i;
        i += n;
    }
    return found;
}

void ZString::MakeUpper()
{
    for (int i = 0; i < m_len;) {
        const int n = CharLength(m_p + i, m_len - i);
        if (n == 1)
            CharUpperBuffA(m_p + i, 1);
        i += n;
    }
}

char* ZString::GetBuffer(int n)
{
    Reserve(n > m_len ? n : m_len);
    if (m_cap == 0)   // still the shared empty text: give the caller its own
        Reserve(1);
    return m_p;
}

ZString& ZString::operator+=(const ZString& s)
{
    Append(s.m_p, s.m_len);
    return *this;
}

ZString& ZString::operator+=(const char* s)
{
    if (s)
        Append(s, static_cast<int>(strlen(s)));
    return *this;
}

ZString operator+(const ZString& a, const ZString& b)
{
    ZString r(a);
    r += b;
    return r;
}

ZString operator+(const ZString& a, const char* b)
{
    ZString r(a);
    r += b;
    return r;
}

ZString operator+(const char* a, const ZString& b)
{
    ZString r(a);
    r += b;
    return r;
}

ZString operator+(const ZString& a, char c)
{
    ZString r(a);
    r.Append(&c, 1);
    return r;
}

void FormatInto(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnprintf(buffer, size - 1, format, args);
    va_end(args);
    buffer[size - 1] = '\0';
}

ZString FormatInt(int value, const char* format)
{
    char buffer[1024];
    FormatInto(buffer, sizeof buffer, format, value);
    return ZString(buffer);
}

ZString UpperCopy(const char* text)
{
    ZString r(text);
    r.MakeUpper();
    return r;
}

ZString JoinPath(const ZString& a, const char* b)
{
    return JoinPath(a, ZString(b));
}

ZString JoinPath(const ZString& a, const ZString& b)
{
    if (a.IsEmpty())
        return b;
    if (b.IsEmpty())
        return a;
    const char sep = '\\';
    const bool endsWithSep = a.c_str()[a.GetLength() - 1] == sep;
    const bool startsWithSep = b.c_str()[0] == sep;
    if (endsWithSep && startsWithSep)
        return a + b.Mid(1);
    if (endsWithSep || startsWithSep)
        return a + b;
    return a + sep + b;
}

int RandomInRange(int lo, int hi)
{
    if (!gRandomSeeded) {
        srand(static_cast<unsigned>(time(nullptr)));
        gRandomSeeded = true;
    }
    return lo + rand() % (hi - lo + 1);
}

ZString ModuleListing()
{
    ZString text;
    if (!gModuleRegistry)
        return text;
    for (ZListNode* n = gModuleRegistry->First(); n; n = n->next) {
        const ZModuleEntry* e = static_cast<ZTemplateNode<ZModuleEntry*>*>(n)->value;
        if (!text.IsEmpty())
            text += "\r\n";
        text += e->name + " " + e->version + " " + e->date;
    }
    return text;
}
