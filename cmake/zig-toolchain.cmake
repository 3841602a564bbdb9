# Cross-building for a manylinux target with Zig: its clang compiles C and
# C++, links against its stubs of an old glibc, and links its libc++ in
# statically, so the result needs nothing of the machine it was built on.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig-toolchain.cmake \
#         -DQUORVANE_ZIG=/path/to/zig -DQUORVANE_ZIG_TARGET=aarch64-linux-gnu.2.17 ...
#
# The target names the processor, the C library and its oldest version; the
# processor is its baseline (code for newer features is chosen at run time).
if(NOT QUORVANE_ZIG OR NOT QUORVANE_ZIG_TARGET)
  message(FATAL_ERROR "zig-toolchain.cmake needs QUORVANE_ZIG (the zig executable) and QUORVANE_ZIG_TARGET")
endif()
# Checks that CMake compiles in projects of their own see the same values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVANE_ZIG QUORVANE_ZIG_TARGET)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${QUORVANE_ZIG_TARGET}")
# Zig keeps a frame pointer even in optimised code; the system compiler, and
# the distributions' builds of the libraries, do not. One register fewer
# made libwebp's lossless encoder, and so the thumbnails, 4% slower.
set(CMAKE_C_COMPILER "${QUORVANE_ZIG}" cc -target ${QUORVANE_ZIG_TARGET} -mcpu=baseline -fomit-frame-pointer)
set(CMAKE_CXX_COMPILER "${QUORVANE_ZIG}" c++ -target ${QUORVANE_ZIG_TARGET} -mcpu=baseline -fomit-frame-pointer)

# Zig's archiver is a subcommand, which CMAKE_AR cannot name: the rules call it.
set(CMAKE_AR "${QUORVANE_ZIG}" CACHE FILEPATH "zig, whose ar and ranlib build static libraries")
set(CMAKE_RANLIB "${QUORVANE_ZIG}" CACHE FILEPATH "zig, whose ar and ranlib build static libraries")
foreach(language C CXX)
  set(CMAKE_${language}_ARCHIVE_CREATE "<CMAKE_AR> ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_APPEND "<CMAKE_AR> ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_FINISH "<CMAKE_RANLIB> ranlib <TARGET>")
endforeach()

# Libraries and headers come from the prefixes given in CMAKE_PREFIX_PATH
# (built for this target), never from the machine's own directories.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
