# Test data made at build time from files the repository carries (tests/data).
set(WYCHEPROOF_JSON "${CMAKE_SOURCE_DIR}/tests/data/wycheproof/ecdsa_secp256r1_sha256_p1363_test.json")
set(WYCHEPROOF_LINES "${CMAKE_BINARY_DIR}/testdata/wycheproof_p256_p1363.txt")
add_custom_command(OUTPUT ${WYCHEPROOF_LINES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/testdata
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/fixtures/wycheproof_lines.py ${WYCHEPROOF_JSON} ${WYCHEPROOF_LINES}
    DEPENDS ${WYCHEPROOF_JSON} ${CMAKE_SOURCE_DIR}/tests/fixtures/wycheproof_lines.py
    COMMENT "Reading the Wycheproof P-256 vectors")
add_custom_target(wycheproof_lines ALL DEPENDS ${WYCHEPROOF_LINES})

# Small manifests signed with fresh keys, checked alike by OpenSSL and by CNG.
set(SIGNED_VECTORS "${CMAKE_BINARY_DIR}/testdata/signed_manifests.txt")
add_custom_command(OUTPUT ${SIGNED_VECTORS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/testdata
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/fixtures/make_signed_vectors.py ${SIGNED_VECTORS}
    DEPENDS ${CMAKE_SOURCE_DIR}/tests/fixtures/make_signed_vectors.py ${CMAKE_SOURCE_DIR}/tests/fixtures/vlsign.py
    COMMENT "Signing test manifests with fresh keys")
add_custom_target(signed_vectors ALL DEPENDS ${SIGNED_VECTORS})
