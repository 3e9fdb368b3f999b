# lw_layer(NAME DEPS...): src/NAME/*.cpp becomes the static library lw_NAME. A folder with no
# sources yet gives no target, and dependencies that are not targets are left out, so a layer
# can be built before the ones above it exist.
function(lw_layer name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_library(lw_${name} STATIC ${sources})
  target_include_directories(lw_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(lw_${name} PUBLIC Threads::Threads)
  foreach(dep ${ARGN})
    if(TARGET ${dep} OR dep MATCHES "::" OR dep STREQUAL "dl")
      target_link_libraries(lw_${name} PUBLIC ${dep})
    else()
      # A lower layer that has no sources yet: link what it would have linked.
      string(REGEX REPLACE "^lw_" "" lower ${dep})
      if(DEFINED LW_LAYER_DEPS_${lower})
        target_link_libraries(lw_${name} PUBLIC ${LW_LAYER_DEPS_${lower}})
      endif()
    endif()
  endforeach()
  set(LW_LAYER_DEPS_${name} lw_${name} PARENT_SCOPE)
  # The layers this one may include from, for the check that keeps data flowing downwards.
  set(lower)
  foreach(dep ${ARGN})
    if(dep MATCHES "^lw_")
      string(REGEX REPLACE "^lw_" "" dep ${dep})
      list(APPEND lower ${dep})
    endif()
  endforeach()
  list(JOIN lower " " lower)
  set_property(GLOBAL APPEND PROPERTY LW_LAYER_LINES "${name} ${lower}")
endfunction()

# Writes FILE with one line per layer: its name, then the layers it names as its own below it.
function(lw_write_layers file)
  get_property(lines GLOBAL PROPERTY LW_LAYER_LINES)
  list(JOIN lines "\n" text)
  file(WRITE ${file} "${text}\n")
endfunction()

# lw_test(AREA LIBS...): tests/AREA/*.cpp becomes the GoogleTest program test_AREA.
function(lw_test area)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${area}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${area} ${sources})
  set_target_properties(test_${area} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(test_${area} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  foreach(lib ${ARGN})
    if(TARGET ${lib} OR lib MATCHES "::")
      target_link_libraries(test_${area} PRIVATE ${lib})
    endif()
  endforeach()
  target_link_libraries(test_${area} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${area} PRIVATE
    LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}" LW_BIN_DIR="${LW_BIN_DIR}"
    LW_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  add_dependencies(test_${area} lw_program_data)
  gtest_discover_tests(test_${area} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "LOFTWISE_TEST=1")
endfunction()
