# `cmake --install BUILD --prefix PREFIX`: the program directory goes to PREFIX/lib/loftwise
# (programs, conversion.so and every shipped data file, side by side as the programs expect),
# the programs are linked into PREFIX/bin, and the install record that the patch installer reads
# is written (cmake/install_record.cmake, docs/lumaret.md).
# lumaret itself is not installed: it travels in the patch folder.
set(LW_INSTALL_PROGRAM_DIR "lib/loftwise" CACHE STRING "Program directory below the install prefix")

# What the build lays into the program directory is what ships: targets whose output lands in
# build/bin (build helpers such as skingen write elsewhere and stay behind).
foreach(dir src/cli src/gui src/conversion tools)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    continue()
  endif()
  get_property(dir_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${dir_targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      get_target_property(out ${target} RUNTIME_OUTPUT_DIRECTORY)
    elseif(type MATCHES "^(SHARED_LIBRARY|MODULE_LIBRARY)$")
      get_target_property(out ${target} LIBRARY_OUTPUT_DIRECTORY)
    else()
      continue()
    endif()
    if(NOT out STREQUAL LW_BIN_DIR OR target STREQUAL "lumaret")
      continue()
    endif()
    # OPTIONAL: a part left out of the build (LW_GUI=OFF) leaves a smaller installation.
    install(TARGETS ${target} OPTIONAL
            RUNTIME DESTINATION ${LW_INSTALL_PROGRAM_DIR}
            LIBRARY DESTINATION ${LW_INSTALL_PROGRAM_DIR})
    if(type STREQUAL "EXECUTABLE")
      install(CODE "
        set(program \"\${CMAKE_INSTALL_PREFIX}/${LW_INSTALL_PROGRAM_DIR}/$<TARGET_FILE_NAME:${target}>\")
        if(EXISTS \"\$ENV{DESTDIR}\${program}\")
          file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
          file(RELATIVE_PATH program \"\${CMAKE_INSTALL_PREFIX}/bin\" \"\${program}\")
          file(CREATE_LINK \"\${program}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/$<TARGET_FILE_NAME:${target}>\" SYMBOLIC)
        endif()")
    endif()
  endforeach()
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${LW_INSTALL_PROGRAM_DIR}
        PATTERN CMakeLists.txt EXCLUDE)
# The window skins are drawn at build time straight into the program directory.
install(DIRECTORY ${LW_BIN_DIR}/ DESTINATION ${LW_INSTALL_PROGRAM_DIR} OPTIONAL
        FILES_MATCHING PATTERN "skin.ini" REGEX "/Skin[0-9]+/[^/]+$")

install(CODE "
  set(LW_RECORD_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(LW_RECORD_PROGRAM_DIR \"${LW_INSTALL_PROGRAM_DIR}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/install_record.cmake\")")
