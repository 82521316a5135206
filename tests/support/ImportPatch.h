// Faults and models put between a module and Windows through the module's
// own import table: its calls to one KERNEL32 function go to a stand-in.
#pragma once

#include <windows.h>

// Points `module`'s import of KERNEL32's `function` at `replacement` and
// returns what the import held before; null when the module imports no such
// function. Lasts until the module is loaded anew.
void* PatchKernel32Import(HMODULE module, const char* function, void* replacement);
