// The wizard's side picture at the size of its frame. The frame is measured
// in dialog units, so with large fonts (120 or 144 dots per inch) it grows
// past the picture, which a bitmap control shows at its own size.
#ifndef TLMRINST_PICTURE_H
#define TLMRINST_PICTURE_H

#include <windows.h>

// Bitmap bitmapId of instance, scaled to cover the inside of the picture
// control frame (proportions kept, the middle shown), as a new bitmap the
// caller deletes; NULL when the picture already covers the frame as it is,
// or cannot be scaled (the control then shows it at its own size).
HBITMAP PictureForFrame(HWND frame, HINSTANCE instance, int bitmapId);

#endif
