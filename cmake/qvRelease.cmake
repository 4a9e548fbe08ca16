# The release identity compiled into every program. This is the one place to change it.
set(QV_REL_MAJOR "7")
set(QV_REL_MINOR 1)
set(QV_REL_SUB_MINOR 0)
set(QV_REL_VARIANT 0)
set(QV_REL_PATCH_LEVEL 0)
set(QV_REL_STAGE_LETTER "F")
set(QV_REL_STAGE_ITERATION 1)
set(QV_REL_BUILD_NUM 35553)
set(QV_REL_BUILD_STR "2014-02-06.35553.hds.rel-7.1.cm")

# What "-buildType" prints: "opt" for optimised builds, "dbg" for debug builds.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(QV_REL_BUILD_TYPE "dbg")
else()
  set(QV_REL_BUILD_TYPE "opt")
endif()

set(QV_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/src/nde/qv/qvRelease.h.in
               ${QV_GENERATED_INCLUDE_DIR}/nde/qv/qvRelease.h @ONLY)
