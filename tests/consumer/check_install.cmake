# Installs the built library into a prefix under the build tree, then builds and runs the consumer
# against that prefix twice: through find_package and through pkg-config.
# Variables: BUILD_DIR, SOURCE_DIR (this directory), WORK_DIR, CXX, GENERATOR, MAKE_PROGRAM,
# LIBDIR, CXX_FLAGS.
cmake_minimum_required(VERSION 3.16)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        string(REPLACE ";" " " command "${ARGN}")
        message(FATAL_ERROR "failed (${rc}): ${command}\n${out}")
    endif()
    set(output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer)
message(STATUS "find_package consumer: ${output}")

find_program(PKG_CONFIG pkg-config)
if(NOT PKG_CONFIG)
    message("SKIPPED: pkg-config not found; the pkg-config half of the install check did not run")
    return()
endif()
# The .pc file finds its prefix relative to itself, so no override is needed here.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(${PKG_CONFIG} --cflags --libs ambrite-xml)
string(STRIP "${output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS}")
run(${CXX} ${extra} ${SOURCE_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc ${flags})
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/consumer-pc)
message(STATUS "pkg-config consumer: ${output}")
