# 64-bit Windows (x86_64): the same program and tests, for machines whose kernel runs no
# 32-bit code (Wine's 64-bit loader still runs there).
set(VORLANE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
