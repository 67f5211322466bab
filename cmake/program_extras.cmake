# Version data of the srctally program: the numbers from project(VERSION) plus a build
# number, the texts from src/app/product_info.h. Windows gets a version resource; ELF
# systems get the same block in a ".srctally_version" section of the program file.
set(SRCTALLY_BUILD_NUMBER 1 CACHE STRING "Build number shown in the banner (0..65535)")
option(SRCTALLY_PRERELEASE "Mark the program as a pre-release build" OFF)

set(SRCTALLY_FILE_VERSION
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${SRCTALLY_BUILD_NUMBER}.${PROJECT_VERSION_PATCH}")
set(SRCTALLY_PRERELEASE_FLAG 0)
if(SRCTALLY_PRERELEASE)
  set(SRCTALLY_PRERELEASE_FLAG 1)
endif()
set(SRCTALLY_ORIGINAL_FILENAME "srctally${CMAKE_EXECUTABLE_SUFFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/version_numbers.h.in
               ${PROJECT_BINARY_DIR}/generated/version_numbers.h @ONLY)
target_include_directories(srctally PRIVATE ${PROJECT_BINARY_DIR}/generated)

if(WIN32)
  enable_language(RC)
  target_sources(srctally PRIVATE ${PROJECT_SOURCE_DIR}/src/app/main/srctally.rc)
elseif(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
  target_sources(srctally PRIVATE ${PROJECT_SOURCE_DIR}/src/app/main/elf_version_section.cpp)
endif()
