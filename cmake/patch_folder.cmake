# `cmake --build BUILD --target patch_folder` lays out a patch as Lumaret expects it:
# BUILD/patch/ holds lumaret beside the files it replaces (conversion.so, loftwise, the two
# language files) and loftwise-cli, all from this build, so the digest of conversion.so that
# both programs carry is the one of the library beside them.
if(NOT TARGET lumaret OR NOT TARGET loftwise OR NOT TARGET loftwise-cli OR NOT TARGET conversion)
  return()
endif()
set(LW_PATCH_DIR ${CMAKE_BINARY_DIR}/patch)
add_custom_target(patch_folder
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${LW_PATCH_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LW_PATCH_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lumaret> $<TARGET_FILE:conversion> $<TARGET_FILE:loftwise>
          $<TARGET_FILE:loftwise-cli> ${LW_BIN_DIR}/English.lng ${LW_BIN_DIR}/Chinese.lng ${LW_PATCH_DIR}/
  COMMENT "Laying out the patch folder ${LW_PATCH_DIR}"
  VERBATIM)
add_dependencies(patch_folder lumaret conversion loftwise loftwise-cli lw_program_data)
