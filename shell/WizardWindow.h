// The wizard window: a borderless skinned dialog from template 101 that shows
// one step of the table at a time and draws its own Back, Next and Cancel.
#pragma once

#include <windows.h>

// The dialog procedure of template 101 (IDD_WIZARD).
INT_PTR CALLBACK WizardDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the Back and Next states from the flags of the step shown.
void UpdateNavButtons();

// Makes the controls of step CurrentStep and repaints the whole page.
void ShowCurrentStep(HWND window);

// Painting (WizardPaint.cpp): the whole page for WM_PAINT, and the three
// buttons alone through a device context of the window.
void PaintWizardPage(HWND window);
void RedrawButtons(HWND window);
