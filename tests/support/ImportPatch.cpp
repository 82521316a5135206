#include "tests/support/ImportPatch.h"

#include <cstring>

void* PatchKernel32Import(HMODULE module, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  if (base == nullptr) return nullptr;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const FARPROC resolved = GetProcAddress(GetModuleHandleA("kernel32.dll"), function);
  auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
  for (; dll->Name != 0; ++dll) {
    if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "kernel32.dll") != 0) continue;
    // Without a table of names, the slots are told apart by where they lead.
    const bool named = dll->OriginalFirstThunk != 0;
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (named ? dll->OriginalFirstThunk : dll->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      bool match = reinterpret_cast<FARPROC>(slots->u1.Function) == resolved;
      if (named) {
        const auto* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        match = !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0;
      }
      if (!match) continue;
      DWORD access = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &access)) {
        return nullptr;
      }
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(void*), access, &access);
      return previous;
    }
  }
  return nullptr;
}
