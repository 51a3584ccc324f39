#include "screenscale.h"

#include "zos.h"

static const int kDesignDpi = 96;

static int ScreenDpi()
{
    HDC screen = ::GetDC(NULL);
    int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ::ReleaseDC(NULL, screen);
    return dpi > 0 ? dpi : kDesignDpi;
}

int ScaleToScreen(int pixels)
{
    return ::MulDiv(pixels, ScreenDpi(), kDesignDpi);
}

// A copy of source stretched to width x height, or null. Windows NT averages
// the pixels that one pixel of the copy covers (HALFTONE, which needs the
// brush origin set afterwards); Windows 9x lacks that mode and takes the
// nearest pixel instead, keeping the colours as they are.
static HBITMAP StretchedCopy(HBITMAP source, int width, int height)
{
    BITMAP bm;
    if (!::GetObjectA(source, sizeof bm, &bm))
        return NULL;
    HDC screen = ::GetDC(NULL);
    HDC from = ::CreateCompatibleDC(screen), to = ::CreateCompatibleDC(screen);
    HBITMAP copy = ::CreateCompatibleBitmap(screen, width, height);
    bool made = false;
    if (from && to && copy) {
        HGDIOBJ oldFrom = ::SelectObject(from, source), oldTo = ::SelectObject(to, copy);
        if (ZIsWin9x()) {
            ::SetStretchBltMode(to, COLORONCOLOR);
        } else {
            ::SetStretchBltMode(to, HALFTONE);
            ::SetBrushOrgEx(to, 0, 0, NULL);
        }
        made = ::StretchBlt(to, 0, 0, width, height, from, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY) != FALSE;
        ::SelectObject(to, oldTo);
        ::SelectObject(from, oldFrom);
    }
    if (to)
        ::DeleteDC(to);
    if (from)
        ::DeleteDC(from);
    ::ReleaseDC(NULL, screen);
    if (!made && copy) {
        ::DeleteObject(copy);
        copy = NULL;
    }
    return copy;
}

// The size scaled down, in its proportions, to fit room where it does not.
static SIZE FittedInto(SIZE size, SIZE room)
{
    if (size.cx <= room.cx && size.cy <= room.cy)
        return size;
    SIZE fitted = {room.cx, ::MulDiv(room.cx, size.cy, size.cx)};
    if (fitted.cy > room.cy) {
        fitted.cx = ::MulDiv(room.cy, size.cx, size.cy);
        fitted.cy = room.cy;
    }
    return fitted;
}

void CScaledPicture::Show(HWND control, SIZE room)
{
    HBITMAP own = reinterpret_cast<HBITMAP>(::SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP bm;
    if (!own || !::GetObjectA(own, sizeof bm, &bm))
        return;
    SIZE scaled = {ScaleToScreen(bm.bmWidth), ScaleToScreen(bm.bmHeight)};
    if (scaled.cx == bm.bmWidth && scaled.cy == bm.bmHeight)
        return;
    scaled = FittedInto(scaled, room);
    m_hCopy = StretchedCopy(own, scaled.cx, scaled.cy);
    if (!m_hCopy)
        return;
    m_hControl = control;
    // The control, which sizes itself to its bitmap, hands back the bitmap it
    // loaded from the template: it is no longer the control's to delete.
    HGDIOBJ replaced = reinterpret_cast<HGDIOBJ>(
        ::SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_hCopy)));
    if (replaced)
        ::DeleteObject(replaced);
}

void CScaledPicture::Release()
{
    if (!m_hCopy)
        return;
    // Some systems' controls show a copy of their own of a bitmap given them;
    // the one taken back is then that copy, which is ours to delete too.
    HGDIOBJ shown = ::IsWindow(m_hControl)
        ? reinterpret_cast<HGDIOBJ>(::SendMessageA(m_hControl, STM_SETIMAGE, IMAGE_BITMAP, 0))
        : NULL;
    if (shown && shown != m_hCopy)
        ::DeleteObject(shown);
    ::DeleteObject(m_hCopy);
    m_hCopy = NULL;
    m_hControl = NULL;
}
