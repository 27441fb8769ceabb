# One place for the language standard and warnings; every target links vq_common.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
# Plain C++20, not GNU C++20: every target, before any is made (the interface property
# alone does not reach the compile line).
set(CMAKE_CXX_EXTENSIONS OFF)

# Objects reused across build folders and fresh clones when ccache is there; the paths
# inside the tree are hashed relative to it, and the build folder is left out of the hash.
find_program(VQ_CCACHE ccache)
if(VQ_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
      CCACHE_NOHASHDIR=1 ${VQ_CCACHE})
endif()

add_library(vq_common INTERFACE)
target_compile_features(vq_common INTERFACE cxx_std_20)
target_compile_options(vq_common INTERFACE -Wall -Wextra -Wpedantic)
