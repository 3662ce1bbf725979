# Windows build: VorlanePatcher.exe, the Windows tests run under Wine, and the test bot.
enable_language(RC)
add_compile_options(-Wall -Wextra -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00)
# Scalar SSE2 floating point: the window's colour formulas truncate single-precision results,
# and x87 excess precision would give other pixels than the same code elsewhere. x86_64 has
# SSE2 and uses it for float arithmetic already; only the i686 build needs to ask.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options(-msse2 -mfpmath=sse)
endif()
# Static runtime: the program imports system DLLs only.
add_link_options(-static -static-libgcc -static-libstdc++)

set(VORLANE_WIN32_LIBS winhttp bcrypt version gdi32 msimg32 user32 shell32 kernel32)
add_library(vorlane_core STATIC ${PORTABLE_SOURCES} ${WIN32_SOURCES})
target_include_directories(vorlane_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(vorlane_core PUBLIC ${VORLANE_WIN32_LIBS})

if(APP_WIN32_SOURCES)
    add_executable(VorlanePatcher WIN32 ${APP_WIN32_SOURCES} ${CMAKE_SOURCE_DIR}/res/vorlane.rc)
    target_link_libraries(VorlanePatcher PRIVATE vorlane_core)
    set_target_properties(VorlanePatcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    # The static runtime libraries bring their own debug sections, about half the file. A release
    # build ships without them: the updater is itself a release file that users download.
    target_link_options(VorlanePatcher PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

# Wine runs every Windows test in a prefix of the build's own, with the loader of the build's
# word size named explicitly: Debian's /usr/bin/wine picks the 32-bit one whenever it is
# installed, and a 32-bit program under the 64-bit loader fails (and the reverse).
set(VORLANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for the tests")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VORLANE_WINE_ENV "VORLANE_WINE=/usr/lib/wine/wine64;WINEARCH=win64")
else()
    set(VORLANE_WINE_ENV "VORLANE_WINE=/usr/lib/wine/wine;WINEARCH=win32")
endif()
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
set(VORLANE_WIN_TEST_ENV
    WINEPREFIX=${VORLANE_WINEPREFIX} VORLANE_BUILD_DIR=${CMAKE_BINARY_DIR} VORLANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    VORLANE_DEV_KEY_DIR=${VORLANE_DEV_KEY_DIR} ${VORLANE_WINE_ENV} ${VORLANE_SERVER_ENV})
include(cmake/testdata.cmake)

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# One test executable per folder of tests/: Wine costs about a second a start, so each
# runs as one CTest entry. win/ needs nothing around it; the others are run by their
# folder's runner script (a network namespace with a local server, a display, ...).
include(tests/fixtures/fixtures.cmake OPTIONAL)
foreach(suite win winnet winui)
    file(GLOB suite_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${suite}/*.cpp)
    if(NOT suite_sources)
        continue()
    endif()
    file(GLOB common_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/common/*.cpp)
    add_executable(${suite}_tests ${suite_sources} ${common_sources})
    add_dependencies(${suite}_tests wycheproof_lines signed_vectors)
    # Unix paths of the build are reached through Wine's Z: drive.
    target_compile_definitions(${suite}_tests PRIVATE
        VORLANE_WYCHEPROOF_LINES="Z:${WYCHEPROOF_LINES}" VORLANE_SIGNED_VECTORS="Z:${SIGNED_VECTORS}" VORLANE_BUILD_DIR_WINE="Z:${CMAKE_BINARY_DIR}" VORLANE_SOURCE_DIR_WINE="Z:${CMAKE_SOURCE_DIR}")
    target_link_libraries(${suite}_tests PRIVATE vorlane_core gtest gtest_main)
    set_target_properties(${suite}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(runner ${CMAKE_SOURCE_DIR}/tests/${suite}/run.sh)
    if(EXISTS ${runner})
        add_test(NAME ${suite}_tests COMMAND bash ${runner} $<TARGET_FILE:${suite}_tests>)
    else()
        add_test(NAME ${suite}_tests COMMAND ${WINE_RUN} $<TARGET_FILE:${suite}_tests>)
    endif()
    set_tests_properties(${suite}_tests PROPERTIES ENVIRONMENT
        "${VORLANE_WIN_TEST_ENV}")
endforeach()

# End-to-end tests of the real program, driven from the Linux side.
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*_test.sh ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(script IN LISTS E2E_TESTS)
    get_filename_component(name ${script} NAME_WE)
    if(script MATCHES "\\.py$")
        add_test(NAME e2e_${name} COMMAND python3 ${script})
    else()
        add_test(NAME e2e_${name} COMMAND bash ${script})
    endif()
    set_tests_properties(e2e_${name} PROPERTIES ENVIRONMENT
        "${VORLANE_WIN_TEST_ENV}")
endforeach()

# Benchmarks of the Windows side: one executable each, run under Wine by a script in bench/.
# The bare_* programs are the platform's peers of ours and link system libraries only;
# a *_window program is a GUI program, as the updater is.
file(GLOB WIN_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/win/*.cpp)
foreach(src IN LISTS WIN_BENCH_SOURCES)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    if(name MATCHES "^bare_")
        target_link_libraries(${name} PRIVATE ${VORLANE_WIN32_LIBS})
    else()
        target_link_libraries(${name} PRIVATE vorlane_core)
    endif()
    if(name MATCHES "_window$")
        set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endforeach()
