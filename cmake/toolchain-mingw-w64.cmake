# 64-bit Windows programs from Debian with MinGW-w64, run under Wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DTAMRIVO_WINDOWS_QT=/path/to/qt5.15.8-mingw-w64-x86_64 -DTAMRIVO_QT=5
# tools/windows/build.sh does this with the prebuilt Qt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAMRIVO_MINGW x86_64-w64-mingw32)

# The POSIX-thread flavour: Qt was built with it, and std::thread and
# std::mutex need it.
set(CMAKE_C_COMPILER ${TAMRIVO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMRIVO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMRIVO_MINGW}-windres)

set(TAMRIVO_WINDOWS_QT "$ENV{TAMRIVO_WINDOWS_QT}" CACHE PATH "Qt for MinGW-w64 (its prefix)")
if(NOT IS_DIRECTORY "${TAMRIVO_WINDOWS_QT}/lib/cmake/Qt5Core")
    message(FATAL_ERROR "TAMRIVO_WINDOWS_QT='${TAMRIVO_WINDOWS_QT}' is not a Qt for MinGW-w64 "
                        "(no lib/cmake/Qt5Core): pass -DTAMRIVO_WINDOWS_QT=<its prefix>")
endif()
# try_compile projects get the toolchain file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAMRIVO_WINDOWS_QT)

set(CMAKE_FIND_ROOT_PATH ${TAMRIVO_WINDOWS_QT} /usr/${TAMRIVO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers for the target, never with the build machine's
# libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${TAMRIVO_WINDOWS_QT}/lib/pkgconfig:/usr/${TAMRIVO_MINGW}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# zlib linked in: one DLL fewer to ship.
set(ZLIB_USE_STATIC_LIBS ON)

# Where the DLLs the programs load are: Qt's, then the compiler's runtime
# (libgcc_s_seh-1, libstdc++-6; the version folder is the compiler's own)
# and libwinpthread-1 and zlib1.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(TAMRIVO_MINGW_RUNTIME_DIR "${libgcc}" DIRECTORY)
set(TAMRIVO_WINDOWS_DLL_DIRS
    ${TAMRIVO_WINDOWS_QT}/bin ${TAMRIVO_MINGW_RUNTIME_DIR} /usr/${TAMRIVO_MINGW}/lib)

# Tests and other programs built here run through Wine, in a prefix of
# their own; tools/windows/wine-run.sh says how.
get_filename_component(TAMRIVO_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
string(REPLACE ";" ":" dllPath "${TAMRIVO_WINDOWS_DLL_DIRS}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMRIVO_SOURCE_ROOT}/tools/windows/wine-run.sh
    --dlls=${dllPath} --prefix=${CMAKE_BINARY_DIR}/wineprefix)
