# The update servers' host names and the manifest path are build inputs, like the key:
#   -DVORLANE_UPDATE_HOST=upd.example.com -DVORLANE_MANIFEST_PATH=/rel/latest.txt
# VORLANE_UPDATE_HOST may be an ordered list joined by "," (upd.example.com,upd2.example.net),
# asked in that order. A "," passes unchanged through a shell, a preset and a CMake list,
# where a ";" would split the value into list items (in execute_process and in the tests'
# ENVIRONMENT) and needs quoting on the command line.
# tools/server_address.py checks them against what the updater can hold and writes their
# scrambled tables into the build tree (generated/net/server_address_tables.h). The tables
# keep their constants while the names stay the same, so a new configure rebuilds nothing.
# Also runs as a script (cmake -DVORLANE_UPDATE_HOST=... -DVORLANE_MANIFEST_PATH=...
# -DOUT=FILE -P cmake/server_address.cmake), which the tests use to see the refusals.
set(VORLANE_UPDATE_HOST "upd.vorlane.test" CACHE STRING "Host names of the update servers in the order asked, joined by \",\" (each a DNS name of at most 64 characters)")
set(VORLANE_MANIFEST_PATH "/vlr/latest.txt" CACHE STRING "Path of the signed manifest on that server (2 to 15 characters)")

function(vorlane_server_tables host path out)
    find_program(VORLANE_PYTHON3 python3 REQUIRED)
    get_filename_component(source "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
    execute_process(
        COMMAND "${VORLANE_PYTHON3}" "${source}/tools/server_address.py" write --keep-if-same
                --tables "${out}" -- "${host}" "${path}"
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE why)
    if(NOT rc EQUAL 0)
        string(STRIP "${why}" why)
        message(FATAL_ERROR "VORLANE_UPDATE_HOST=\"${host}\" VORLANE_MANIFEST_PATH=\"${path}\": ${why}")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    vorlane_server_tables("${VORLANE_UPDATE_HOST}" "${VORLANE_MANIFEST_PATH}" "${OUT}")
else()
    vorlane_server_tables("${VORLANE_UPDATE_HOST}" "${VORLANE_MANIFEST_PATH}"
                          "${CMAKE_BINARY_DIR}/generated/net/server_address_tables.h")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tools/server_address.py")
    string(REPLACE "," ";" hosts "${VORLANE_UPDATE_HOST}")
    foreach(host IN LISTS hosts)
        message(STATUS "Update server: https://${host}${VORLANE_MANIFEST_PATH}")
    endforeach()
    # The tests' servers (tests/netns) answer for this host and path.
    set(VORLANE_SERVER_ENV "VORLANE_UPDATE_HOST=${VORLANE_UPDATE_HOST};VORLANE_MANIFEST_PATH=${VORLANE_MANIFEST_PATH}")
endif()
