# Copies every shipped file of SRC (except the build description) into DST, keeping folders.
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
foreach(f ${files})
  if(f STREQUAL "CMakeLists.txt")
    continue()
  endif()
  get_filename_component(dir ${f} DIRECTORY)
  file(COPY ${SRC}/${f} DESTINATION ${DST}/${dir})
endforeach()
