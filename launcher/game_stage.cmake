# The game directory staged in the build tree, so that kestrel can run the game from there:
#
#   ${CINELINK_STAGE_DIR}/kestrel
#   ${CINELINK_STAGE_DIR}/lib/python3.11       -> the embedded interpreter's standard library
#   ${CINELINK_STAGE_DIR}/...                   what other folders stage with cinelink_stage()
#
# The target `stage_game` (part of the default build) fills it. A folder that adds to the
# game directory includes this file first; it is read once per build tree:
#
#   include(${PROJECT_SOURCE_DIR}/launcher/game_stage.cmake)
#   cinelink_stage(TARGETS cinelink)                      # built file, copied to the top
#   cinelink_stage(FILES launch.py movies DESTINATION .)  # files or whole directories
#   cinelink_stage(FILES ${movie} DEPENDS make_movie)     # made by another target first
#
# Pieces are copied, never linked: kestrel finds its home through its own resolved path,
# and the game loads libraries beside it, so everything must really live in the directory.
include_guard(GLOBAL)

set(CINELINK_STAGE_DIR ${CMAKE_BINARY_DIR}/game
    CACHE INTERNAL "Game directory staged in the build tree")
add_custom_target(stage_game ALL COMMENT "Staging the game directory in ${CINELINK_STAGE_DIR}")

# cinelink_stage([TARGETS target...] [FILES path...] [DESTINATION subdir] [DEPENDS target...])
# Relative FILES are taken from the calling folder's source directory.
function(cinelink_stage)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "DESTINATION" "TARGETS;FILES;DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "cinelink_stage: unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(dest ${CINELINK_STAGE_DIR})
  if(arg_DESTINATION)
    set(dest ${CINELINK_STAGE_DIR}/${arg_DESTINATION})
  endif()

  # One helper target per call keeps each piece's dependencies apart.
  get_property(count GLOBAL PROPERTY CINELINK_STAGE_COUNT)
  if(NOT count)
    set(count 0)
  endif()
  math(EXPR count "${count} + 1")
  set_property(GLOBAL PROPERTY CINELINK_STAGE_COUNT ${count})
  set(helper stage_game_${count})

  set(commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dest})
  foreach(target IN LISTS arg_TARGETS)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${target}> ${dest}/)
  endforeach()
  foreach(file IN LISTS arg_FILES)
    cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    if(IS_DIRECTORY ${file})
      cmake_path(GET file FILENAME name)
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${file} ${dest}/${name})
    else()
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${dest}/)
    endif()
  endforeach()

  add_custom_target(${helper} ${commands} VERBATIM)
  if(arg_TARGETS OR arg_DEPENDS)
    add_dependencies(${helper} ${arg_TARGETS} ${arg_DEPENDS})
  endif()
  add_dependencies(stage_game ${helper})
endfunction()
