// Fitting a dialog made from a template to artwork drawn in pixels.
#pragma once

#include <windows.h>

// For WM_INITDIALOG of a skinned dialog. The template is sized in dialog
// units, which grow with the screen's dots per inch, while the artwork, its
// window shape and the drawn buttons are fixed in pixels. At 96 dots per inch
// the window only grows, where the dialog font came out smaller than
// intended, until its client area holds `artWidth` x `artHeight` pixels.
// Above 96 it takes exactly that size, and its child controls are moved and
// sized in proportion, so that every button stays inside the visible shape.
void FitToArtwork(HWND window, int artWidth, int artHeight);

// A skinned window's outline: a rounded rectangle in client pixels.
struct RoundedShape {
  int left;
  int top;
  int right;
  int bottom;
  int corner;
};

// Cuts the window to `shape`; the window owns the region once it is set.
void CutToShape(HWND window, const RoundedShape& shape);
