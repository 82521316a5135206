# Cross build for 32-bit Windows with the MinGW-w64 posix-threading compilers.
# Programs built here run under Wine, which ctest uses as the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZEPHLAR_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEPHLAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEPHLAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEPHLAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEPHLAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Everything links statically so that the DLL and the test programs import
# only Windows system DLLs. The PE headers ask for Windows 2000 (5.0) at most.
set(ZEPHLAR_WIN2000_PE "-Wl,--major-subsystem-version,5,--minor-subsystem-version,0,--major-os-version,5,--minor-os-version,0")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static ${ZEPHLAR_WIN2000_PE}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static ${ZEPHLAR_WIN2000_PE}")
