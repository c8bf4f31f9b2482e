# BLAKE3 comes from Debian's librust-blake3-dev, which ships the reference C
# implementation inside its crate source (the c/ folder). It is compiled here
# as a private static library; nothing is downloaded.
set(QUELT_BLAKE3_DIR "" CACHE PATH "Folder holding the BLAKE3 reference C sources (blake3.h)")
if(NOT QUELT_BLAKE3_DIR)
  file(GLOB _quelt_blake3_candidates LIST_DIRECTORIES true
       /usr/share/cargo/registry/blake3-*/c)
  list(SORT _quelt_blake3_candidates COMPARE NATURAL ORDER DESCENDING)
  list(GET _quelt_blake3_candidates 0 _quelt_blake3_first)
  set(QUELT_BLAKE3_DIR "${_quelt_blake3_first}" CACHE PATH
      "Folder holding the BLAKE3 reference C sources (blake3.h)" FORCE)
endif()
if(NOT EXISTS "${QUELT_BLAKE3_DIR}/blake3.h")
  message(FATAL_ERROR "BLAKE3 C sources not found (install librust-blake3-dev or set QUELT_BLAKE3_DIR)")
endif()
message(STATUS "BLAKE3 C sources: ${QUELT_BLAKE3_DIR}")

set(_b3 ${QUELT_BLAKE3_DIR})
set(_b3_sources ${_b3}/blake3.c ${_b3}/blake3_dispatch.c ${_b3}/blake3_portable.c)
set(_b3_defs "")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND _b3_sources
       ${_b3}/blake3_sse2_x86-64_unix.S ${_b3}/blake3_sse41_x86-64_unix.S
       ${_b3}/blake3_avx2_x86-64_unix.S ${_b3}/blake3_avx512_x86-64_unix.S)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  list(APPEND _b3_sources ${_b3}/blake3_neon.c)
  list(APPEND _b3_defs BLAKE3_USE_NEON=1)
else()
  list(APPEND _b3_defs BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
add_library(quelt_blake3 STATIC ${_b3_sources})
target_include_directories(quelt_blake3 SYSTEM PUBLIC ${_b3})
target_compile_definitions(quelt_blake3 PRIVATE ${_b3_defs})
set_target_properties(quelt_blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON C_STANDARD 99)
