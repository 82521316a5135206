// A stand-in zephlardll.dll for the host program's tests: a library of the
// right name that offers only `running` (stand_in_dll.def gives it its
// decorated name), as a library of another product or release might. The
// host must name the two wizard entry points it lacks.
#include <windows.h>

extern "C" char StandInRunning() { return 0; }

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
