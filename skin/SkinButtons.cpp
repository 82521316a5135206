#include "skin/SkinButtons.h"

#include "skin/GdiScope.h"
#include "skin/SkinNote.h"

// One button: its strip's cell `state`, clipped to the pill inside the cell.
static void PaintButton(HDC target, HDC memory, HBITMAP strip, signed char state,
                        const RECT& rect) {
  // A strip that failed to load leaves the background showing at its place.
  ScopedSelect select(memory, strip);
  if (!select.selected()) return;
  const int left = rect.left;
  const int top = rect.top;
  ScopedGdiObject pill(CreateRoundRectRgn(left + 2, top + 2, left + 79, top + 23, 16, 16));
  SelectClipRgn(target, static_cast<HRGN>(pill.get()));
  BitBlt(target, left, top, kButtonCellWidth, kButtonCellHeight, memory, kButtonCellWidth * state,
         0, SRCCOPY);
  SelectClipRgn(target, nullptr);
}

BOOL PaintSkinButtons(HDC target, const HBITMAP bitmaps[kStripCount],
                      const signed char states[kButtonCount], const RECT rects[kButtonCount],
                      bool finishing) {
  ScopedMemoryDc memory(target);
  if (memory.get() == nullptr) return FALSE;

  // Only a check that the strips are there: every cell is 80 x 25, so the
  // drawing does not need the header.
  BITMAP header;
  if (GetObjectA(bitmaps[kBackStrip], sizeof header, &header) == 0) {
    SkinNote("Error GetObject!\n");
  }

  const HBITMAP next = finishing ? bitmaps[kOkStrip] : bitmaps[kNextStrip];
  PaintButton(target, memory.get(), bitmaps[kBackStrip], states[kBackButton], rects[kBackButton]);
  PaintButton(target, memory.get(), next, states[kNextButton], rects[kNextButton]);
  PaintButton(target, memory.get(), bitmaps[kCancelStrip], states[kCancelButton],
              rects[kCancelButton]);
  SelectClipRgn(target, nullptr);
  return TRUE;
}
