// The wizard's three drawn buttons, each a cell of a bitmap strip.
#pragma once

#include <windows.h>

#include "shell/WizardState.h"

constexpr int kButtonCellWidth = 80;
constexpr int kButtonCellHeight = 25;

// Draws Back, Next and Cancel into `target`, a wizard client-area context:
// each button is cell `states[i]` of its strip, at its rectangle's top-left
// corner, clipped to a rounded pill. The Next place shows the OK strip when
// the shown step finishes the wizard. Leaves `target` without a clip region.
// Returns FALSE, drawing nothing, when no memory context can be made.
BOOL PaintSkinButtons(HDC target, const HBITMAP bitmaps[kStripCount],
                      const signed char states[kButtonCount], const RECT rects[kButtonCount]);
