# Cross-builds the Windows DLLs and mwconv.exe for 32-bit x86 with Debian's
# mingw-w64 (posix thread model: mwconv converts files in parallel threads).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A host copies two DLLs and nothing else: the C and C++ runtimes go inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# SSE2 arithmetic, as on x86-64: the x87 unit's wider intermediates would
# round some measurements differently and change output bytes.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
# This compiler's -Wrestrict misfires on std::string concatenations that it
# inlines (a literal joined to a temporary string, GCC bug 105329).
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -Wno-restrict")
