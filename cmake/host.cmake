# Host build: the portable logic over OpenSSL, its tests, the publisher's tool and benchmarks.
find_package(OpenSSL 3 REQUIRED)
# libcurl: the publisher's probe of a live server (Debian's libcurl4-openssl-dev).
find_package(CURL REQUIRED)
# libzstd: the publisher's binary deltas (Debian's libzstd-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

option(VORLANE_FUZZ "Build the libFuzzer targets (clang)" OFF)
set(VORLANE_SANITIZE "" CACHE STRING "Sanitizers for the host build, e.g. thread or address,undefined")
if(VORLANE_SANITIZE)
    add_compile_options(-fsanitize=${VORLANE_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${VORLANE_SANITIZE})
    # Undefined behaviour fails the test that meets it instead of printing a line nobody reads.
    if(VORLANE_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
add_compile_options(-Wall -Wextra)

add_library(vorlane_core STATIC ${PORTABLE_SOURCES} ${OPENSSL_SOURCES})
target_include_directories(vorlane_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(vorlane_core PUBLIC OpenSSL::Crypto Threads::Threads)

include(cmake/testdata.cmake)
# Where the tests find the source tree and the development key, and the server this build is for.
set(VORLANE_TEST_DEFINES
    VORLANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VORLANE_DEV_PRIVATE_KEY="${VORLANE_DEV_KEY_DIR}/private.pem"
    VORLANE_CONFIGURED_HOST="${VORLANE_UPDATE_HOST}"
    VORLANE_CONFIGURED_PATH="${VORLANE_MANIFEST_PATH}")

file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*.cpp)
list(FILTER TOOL_SOURCES EXCLUDE REGEX "/main\\.cpp$")
if(TOOL_SOURCES)
    add_library(vorlane_tool_lib STATIC ${TOOL_SOURCES})
    target_link_libraries(vorlane_tool_lib PUBLIC vorlane_core CURL::libcurl PkgConfig::ZSTD)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/main.cpp)
    add_executable(vorlane-release ${CMAKE_SOURCE_DIR}/tools/main.cpp)
    target_link_libraries(vorlane-release PRIVATE vorlane_tool_lib)
endif()

file(GLOB HOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/*.cpp ${CMAKE_SOURCE_DIR}/tests/common/*.cpp)
add_executable(host_tests ${HOST_TEST_SOURCES})
add_dependencies(host_tests wycheproof_lines signed_vectors)
target_compile_definitions(host_tests PRIVATE ${VORLANE_TEST_DEFINES} VORLANE_WYCHEPROOF_LINES="${WYCHEPROOF_LINES}" VORLANE_SIGNED_VECTORS="${SIGNED_VECTORS}")
target_link_libraries(host_tests PRIVATE vorlane_core GTest::gtest GTest::gtest_main)
if(TARGET vorlane_tool_lib)
    target_link_libraries(host_tests PRIVATE vorlane_tool_lib)
endif()
include(GoogleTest)
gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VORLANE_RELEASE_TOOL=$<$<TARGET_EXISTS:vorlane-release>:$<TARGET_FILE:vorlane-release>>")

file(GLOB HOST_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/host/*.cpp)
if(benchmark_FOUND AND HOST_BENCH_SOURCES)
    foreach(src IN LISTS HOST_BENCH_SOURCES)
        get_filename_component(name ${src} NAME_WE)
        add_executable(${name} ${src})
        target_compile_definitions(${name} PRIVATE ${VORLANE_TEST_DEFINES})
        target_link_libraries(${name} PRIVATE vorlane_core benchmark::benchmark)
    endforeach()
endif()

# Shell- and Python-driven host tests (the publisher's tool end to end and the like).
file(GLOB HOST_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host_scripts/*_test.sh)
foreach(script IN LISTS HOST_SCRIPT_TESTS)
    get_filename_component(name ${script} NAME_WE)
    # The set-up scripts and a fresh clone's build do not change under a sanitizer: one run
    # (the plain host preset) is enough.
    if(VORLANE_SANITIZE AND name MATCHES "^(standalone_clone|bootstrap)_test$")
        continue()
    endif()
    add_test(NAME ${name} COMMAND bash ${script})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT
        "VORLANE_RELEASE_TOOL=$<$<TARGET_EXISTS:vorlane-release>:$<TARGET_FILE:vorlane-release>>;VORLANE_BUILD_DIR=${CMAKE_BINARY_DIR};VORLANE_DEV_KEY_DIR=${VORLANE_DEV_KEY_DIR};${VORLANE_SERVER_ENV}")
endforeach()

include(cmake/fuzz.cmake OPTIONAL)
