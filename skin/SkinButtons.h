// The wizard's three drawn buttons, each a cell of a bitmap strip.
#pragma once

#include <windows.h>

// States and rectangles are indexed Back, Cancel, Next; the strips Back,
// Cancel, Next, OK.
enum WizardButton { kBackButton = 0, kCancelButton = 1, kNextButton = 2, kButtonCount = 3 };
enum ButtonStrip {
  kBackStrip = 0,
  kCancelStrip = 1,
  kNextStrip = 2,
  kOkStrip = 3,
  kStripCount = 4
};
// A button's state is the strip cell drawn for it.
constexpr signed char kButtonNormal = 0;
constexpr signed char kButtonDisabled = 1;
constexpr signed char kButtonPressedLook = 2;

constexpr int kButtonCellWidth = 80;
constexpr int kButtonCellHeight = 25;

// Draws Back, Next and Cancel into `target`, a wizard client-area context:
// each button is cell `states[i]` of its strip, at its rectangle's top-left
// corner, clipped to a rounded pill. The Next place shows the OK strip when
// `finishing` (the page on screen ends the wizard). Leaves `target` without
// a clip region. Returns FALSE, drawing nothing, when no memory context can
// be made.
BOOL PaintSkinButtons(HDC target, const HBITMAP bitmaps[kStripCount],
                      const signed char states[kButtonCount], const RECT rects[kButtonCount],
                      bool finishing);
