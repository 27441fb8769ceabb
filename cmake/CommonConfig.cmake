# One place for the language standard and warnings; every target links vq_common.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

add_library(vq_common INTERFACE)
target_compile_features(vq_common INTERFACE cxx_std_20)
set_target_properties(vq_common PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)
target_compile_options(vq_common INTERFACE -Wall -Wextra -Wpedantic)
