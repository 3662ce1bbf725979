# 32-bit Windows (i686): the program that ships.
set(VORLANE_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
