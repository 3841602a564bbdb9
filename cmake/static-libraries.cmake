# Linking the libraries statically from the prefixes in CMAKE_PREFIX_PATH
# (built by scripts/static_libraries.py for the release wheels): the same
# find_package and pkg-config lookups as the development build, told to take
# static archives and the libraries these need in turn.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(ZLIB_USE_STATIC_LIBS ON)
# oneTBB's package configuration links Threads::Threads without looking for it.
find_package(Threads REQUIRED)
# pkg-config answers from these prefixes only, with the private libraries
# (libwebp's libsharpyuv) that a static link needs.
list(TRANSFORM CMAKE_PREFIX_PATH APPEND /lib/pkgconfig OUTPUT_VARIABLE quorvane_pkg_config_dirs)
list(JOIN quorvane_pkg_config_dirs ":" quorvane_pkg_config_dirs)
set(ENV{PKG_CONFIG_LIBDIR} "${quorvane_pkg_config_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# Their licences, and those of Zig's runtime linked in with them, go into
# the wheel's metadata.
if(DEFINED SKBUILD_METADATA_DIR)
  foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    install(DIRECTORY "${prefix}/share/licenses/" DESTINATION "${SKBUILD_METADATA_DIR}/licenses")
  endforeach()
  if(QUORVANE_ZIG)
    get_filename_component(quorvane_zig_lib "${QUORVANE_ZIG}" DIRECTORY)
    install(FILES "${quorvane_zig_lib}/LICENSE" DESTINATION "${SKBUILD_METADATA_DIR}/licenses/zig")
    foreach(runtime libcxx libcxxabi libunwind)
      install(FILES "${quorvane_zig_lib}/lib/${runtime}/LICENSE.TXT"
        DESTINATION "${SKBUILD_METADATA_DIR}/licenses/${runtime}")
    endforeach()
  endif()
endif()
