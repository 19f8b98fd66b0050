# Cross-build for Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64.cmake -DVELMORA_TESTS=OFF
#   ninja -C build-win velmora        # then: wine build-win/velmora.exe
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A self-contained executable: no MinGW runtime DLLs needed beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Build-time tools (the network writer) run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
