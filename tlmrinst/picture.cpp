// Scales the side picture for a frame larger than the picture: the scale
// that covers the frame in both directions, keeping the proportions, with
// the picture's middle in the frame's middle, as at the normal size where
// the frame shows the middle of a slightly larger picture. Halftone
// stretching keeps the drawing smooth where the system offers it (the NT
// family); elsewhere the nearest colours are taken.
#include "picture.h"

HBITMAP PictureForFrame(HWND frame, HINSTANCE instance, int bitmapId)
{
    RECT inside;
    if (!GetClientRect(frame, &inside) || inside.right <= 0 || inside.bottom <= 0)
        return NULL;
    HBITMAP source = LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId));
    BITMAP facts;
    if (!source || !GetObjectA(source, sizeof facts, &facts) || facts.bmWidth <= 0 || facts.bmHeight <= 0 ||
        (facts.bmWidth >= inside.right && facts.bmHeight >= inside.bottom)) {
        if (source)
            DeleteObject(source);
        return NULL;
    }
    // Covering width and height: the larger of the two scales.
    int width = inside.right, height = inside.bottom;
    int scaledWidth = width, scaledHeight = height;
    if ((LONGLONG)width * facts.bmHeight >= (LONGLONG)height * facts.bmWidth)
        scaledHeight = (int)((LONGLONG)facts.bmHeight * width / facts.bmWidth);
    else
        scaledWidth = (int)((LONGLONG)facts.bmWidth * height / facts.bmHeight);

    HBITMAP fitted = NULL;
    HDC screen = GetDC(frame);
    HDC from = screen ? CreateCompatibleDC(screen) : NULL;
    HDC to = screen ? CreateCompatibleDC(screen) : NULL;
    if (from && to)
        fitted = CreateCompatibleBitmap(screen, width, height);
    if (fitted) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldTo = SelectObject(to, fitted);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, NULL);
        BOOL drawn = StretchBlt(to, (width - scaledWidth) / 2, (height - scaledHeight) / 2, scaledWidth, scaledHeight,
                                from, 0, 0, facts.bmWidth, facts.bmHeight, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
        if (!drawn) {
            DeleteObject(fitted);
            fitted = NULL;
        }
    }
    if (to)
        DeleteDC(to);
    if (from)
        DeleteDC(from);
    if (screen)
        ReleaseDC(frame, screen);
    DeleteObject(source);
    return fitted;
}
