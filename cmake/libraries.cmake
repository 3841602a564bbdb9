# Finding the libraries the build needs. Each is declared on one line with
# the packages that provide it:
#
#   quorvane_library(<name> DEBIAN <package> [PYPI <package>]
#                    FIND_PACKAGE <find_package arguments> | PKG_CONFIG <prefix> <module>)
#
# and all are looked for before the configuration stops, so one message
# names every missing library at once instead of the first failed
# find_package's trace.

# A macro, not a function: find_package's variables (Python's among them,
# which Python_add_library reads) must land in the caller's scope.
macro(quorvane_library name)
  cmake_parse_arguments(_quorvane_library "" "DEBIAN;PYPI" "FIND_PACKAGE;PKG_CONFIG" ${ARGN})
  if(_quorvane_library_FIND_PACKAGE)
    find_package(${_quorvane_library_FIND_PACKAGE} QUIET)
    list(GET _quorvane_library_FIND_PACKAGE 0 _quorvane_library_prefix)
  else()
    list(GET _quorvane_library_PKG_CONFIG 0 _quorvane_library_prefix)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(${_quorvane_library_PKG_CONFIG} QUIET IMPORTED_TARGET)
    endif()
  endif()
  if(NOT ${_quorvane_library_prefix}_FOUND)
    set(_quorvane_library_line "  ${name}: Debian package ${_quorvane_library_DEBIAN}")
    if(_quorvane_library_PYPI)
      string(APPEND _quorvane_library_line ", or ${_quorvane_library_PYPI} from PyPI")
    endif()
    list(APPEND QUORVANE_MISSING_LINES "${_quorvane_library_line}")
    list(APPEND QUORVANE_MISSING_DEBIAN ${_quorvane_library_DEBIAN})
  endif()
endmacro()

# Sets `message` to the text that names every missing library, or to "" when
# all were found. The caller raises it, so that the error shows no call stack.
function(quorvane_missing_libraries message)
  set(${message} "" PARENT_SCOPE)
  if(NOT QUORVANE_MISSING_LINES)
    return()
  endif()
  list(JOIN QUORVANE_MISSING_LINES "\n" lines)
  list(JOIN QUORVANE_MISSING_DEBIAN " " debian)
  string(CONCAT text
    "quorvane cannot be built: these libraries were not found.\n"
    "${lines}\n"
    "Install them, on Debian or Ubuntu with\n"
    "  sudo apt-get install ${debian}\n"
    "then build again (see Install in README.md).")
  set(${message} "${text}" PARENT_SCOPE)
endfunction()
