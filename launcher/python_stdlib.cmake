# Puts the embedded interpreter's standard library where kestrel looks for it: a link to
# the system's library, or (KESTREL_COPY_STDLIB) a copy, so the game folder can move to
# another machine with the same runtime packages. Used by the build-tree stage (as a
# script) and by the install (included into the install script).
#
#   cmake -DGAME_DIR=... -DSTDLIB=... -DSTDLIB_DIR=lib/python3.11 -DCOPY=ON -P python_stdlib.cmake
#
# A macro, not a function: at install time file(INSTALL) records what it writes in the
# caller's CMAKE_INSTALL_MANIFEST_FILES.
macro(kestrel_place_stdlib game_dir stdlib stdlib_dir copy)
  set(_stdlib_target "${game_dir}/${stdlib_dir}")
  # Never follow the link into the system's library when replacing it.
  if(IS_SYMLINK "${_stdlib_target}")
    file(REMOVE "${_stdlib_target}")
  elseif(NOT ${copy} AND IS_DIRECTORY "${_stdlib_target}")
    file(REMOVE_RECURSE "${_stdlib_target}")
  endif()
  cmake_path(GET _stdlib_target PARENT_PATH _stdlib_parent)
  if(${copy})
    # Left out: bytecode caches, the test suite, the build configuration, and
    # sitecustomize.py, a link into /etc that nothing reads without `site`.
    file(INSTALL "${stdlib}/" DESTINATION "${_stdlib_target}" USE_SOURCE_PERMISSIONS
         MESSAGE_LAZY
         REGEX "/(__pycache__|config-[^/]*|sitecustomize\\.py)$" EXCLUDE
         REGEX "^${stdlib}/test$" EXCLUDE)
  else()
    file(MAKE_DIRECTORY "${_stdlib_parent}")
    file(CREATE_LINK "${stdlib}" "${_stdlib_target}" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_stdlib_target}")
  endif()
endmacro()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  kestrel_place_stdlib("${GAME_DIR}" "${STDLIB}" "${STDLIB_DIR}" COPY)
endif()
