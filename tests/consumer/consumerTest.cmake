# Installs the framework into a fresh prefix, builds the consumer project against it with
# find_package, and checks both the consumer and the installed kit's qvrev.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P consumerTest.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f bin/qvrev lib/cmake/qvframework/qvframeworkConfig.cmake
          lib/cmake/qvframework/qvframeworkConfigVersion.cmake lib/pkgconfig/qvframework.pc
          include/qvframework/comps/appcomps/acApp.h include/qvframework/nde/qv/qvRelease.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(NOT IS_DIRECTORY ${prefix}/sys/strings)
  message(FATAL_ERROR "not installed: sys/strings")
endif()

run(${prefix}/bin/qvrev)
if(NOT OUT STREQUAL "Release 7.1.0.0 [Build 35553]\n")
  message(FATAL_ERROR "installed qvrev printed: ${OUT}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/qvconsumer)
if(NOT OUT STREQUAL "Release 7.1.0.0 [Build 35553]\n")
  message(FATAL_ERROR "consumer printed: ${OUT}")
endif()
run(${WORK_DIR}/build/qverrconsumer)
if(NOT OUT STREQUAL "unable to open '{1}'\nError: unable to open '/nonexistent/qverrconsumer' - No such file or directory.\n")
  message(FATAL_ERROR "errors without the catalog printed: ${OUT}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/qvconsumer 12abc RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 219)
  message(FATAL_ERROR "consumer's bad value gave ${rc}, expected 219 (AC_SC_NEED_INT)")
endif()

# The same program built by hand through pkg-config, with the compiler's default language level
# (the flags must name the one the headers need). The prefix is moved first: the .pc file finds
# the kit from its own folder, not from where it was installed.
find_program(PKG_CONFIG pkg-config)
find_program(CXX_COMPILER NAMES c++ g++)
if(PKG_CONFIG AND CXX_COMPILER)
  file(RENAME ${prefix} ${WORK_DIR}/moved)
  set(ENV{PKG_CONFIG_PATH} ${WORK_DIR}/moved/lib/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs qvframework)
  separate_arguments(pcFlags UNIX_COMMAND "${OUT}")
  run(${CXX_COMPILER} ${SOURCE_DIR}/qvconsumer.cpp -o ${WORK_DIR}/qvconsumer-pc ${pcFlags})
  run(${WORK_DIR}/qvconsumer-pc)
  if(NOT OUT STREQUAL "Release 7.1.0.0 [Build 35553]\n")
    message(FATAL_ERROR "consumer built through pkg-config printed: ${OUT}")
  endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
