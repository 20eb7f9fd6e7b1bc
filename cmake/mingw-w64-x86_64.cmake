# Cross-compiling for 64-bit Windows with Debian's mingw-w64, posix-thread flavour: Qt 6 needs
# std::thread, which the win32-thread flavour of the compiler lacks. Used both for building Qt
# itself and the program (see windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(qelnor_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${qelnor_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${qelnor_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${qelnor_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${qelnor_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Qt built for Windows lives outside the mingw sysroot (windows.sh passes its prefix).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QELNOR_QT_PREFIX)
if(QELNOR_QT_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QELNOR_QT_PREFIX})
endif()
