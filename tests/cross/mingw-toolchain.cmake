# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, each program carrying its own C and
# C++ runtimes: the test programs of the cross build run without MinGW's DLLs beside them (under
# Wine as on a plain Windows machine).
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=tests/cross/mingw-toolchain.cmake ...
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# zlib too (Debian's libz-mingw-w64-dev has both): the stand-in SQL Server checksums its pages
# with it.
set(ZLIB_USE_STATIC_LIBS ON)
