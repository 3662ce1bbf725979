# libFuzzer targets (clang only), built with the sanitizers of the host-asan preset.

if(NOT VORLANE_FUZZ OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
endif()
file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
set(FUZZ_SECONDS 20 CACHE STRING "How long each fuzzer runs in the test run")
foreach(src IN LISTS FUZZ_SOURCES)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE vorlane_core)
    target_compile_definitions(${name} PRIVATE ${VORLANE_TEST_DEFINES})
    if(TARGET vorlane_tool_lib)
        target_link_libraries(${name} PRIVATE vorlane_tool_lib)
    endif()
    # Each run starts from the committed seeds and dictionary and is bounded in time;
    # new inputs go to a corpus in the build tree, never into the source tree.
    set(seeds ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds/${name})
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    set(dict ${CMAKE_SOURCE_DIR}/tests/fuzz/manifest.dict)
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND} -E env UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
            sh -c "mkdir -p '${corpus}' && exec '$<TARGET_FILE:${name}>' -max_total_time=${FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -dict='${dict}' -artifact_prefix='${CMAKE_BINARY_DIR}/fuzz-' '${corpus}' '${seeds}'")
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endforeach()
