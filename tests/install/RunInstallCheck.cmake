# Installs the build tree into a fresh prefix, then builds and runs a small
# program and the first example program against it twice: with
# find_package(Quelt) and with `pkg-config --cflags --libs quelt`, with
# -Wall -Wextra -Wpedantic -Werror. Run as `cmake -P` with:
#   BUILD_DIR    the configured and built project
#   CONFIG       its configuration (multi-configuration generators)
#   WORK_DIR     a directory of its own (removed and recreated)
#   SOURCE_DIR   this directory (the consumer project)
#   EXAMPLES_DIR the examples/ folder of the source tree
#   LIBDIR       CMAKE_INSTALL_LIBDIR of the project
#   GENERATOR, CXX_COMPILER, PKG_CONFIG

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
run("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" ${config_args} --prefix "${prefix}")

# find_package, searching the new prefix only.
set(cmake_build "${WORK_DIR}/with-cmake")
run("configuring with find_package" ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${cmake_build}"
    -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DQUELT_EXAMPLES_DIR=${EXAMPLES_DIR}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(STRINGS "${cmake_build}/CMakeCache.txt" found REGEX "^Quelt_DIR:")
string(FIND "${found}" "=${prefix}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "find_package took a Quelt outside the new prefix: ${found}")
endif()
run("building with find_package" ${CMAKE_COMMAND} --build "${cmake_build}")
run("running the find_package build" "${cmake_build}/consumer")
run("running the example built with find_package" "${cmake_build}/example_01")

# pkg-config, reading only the new prefix's file.
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config was not found when the project was configured")
endif()
set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/${LIBDIR}/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
run("pkg-config" ${PKG_CONFIG} --cflags --libs quelt)
separate_arguments(flags UNIX_COMMAND "${run_output}")
# The file names its directories relative to where it lies.
run("pkg-config includedir" ${PKG_CONFIG} --variable=includedir quelt)
string(STRIP "${run_output}" includedir)
file(REAL_PATH "${includedir}" includedir)
file(REAL_PATH "${prefix}/include" expected)
if(NOT includedir STREQUAL expected)
  message(FATAL_ERROR "pkg-config names ${includedir}, not the new prefix's ${expected}")
endif()
run("pkg-config libdir" ${PKG_CONFIG} --variable=libdir quelt)
string(STRIP "${run_output}" libdir)
set(warnings -Wall -Wextra -Wpedantic -Werror)
run("building with pkg-config" ${CXX_COMPILER} ${warnings} "${SOURCE_DIR}/consumer.cpp" ${flags}
    "-Wl,-rpath,${libdir}" -o "${WORK_DIR}/consumer-pkg-config")
run("running the pkg-config build" "${WORK_DIR}/consumer-pkg-config")
run("building the example with pkg-config" ${CXX_COMPILER} ${warnings}
    "${EXAMPLES_DIR}/01_arithmetic.cpp" ${flags} "-Wl,-rpath,${libdir}"
    -o "${WORK_DIR}/example-pkg-config")
run("running the example built with pkg-config" "${WORK_DIR}/example-pkg-config")
