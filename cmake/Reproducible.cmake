# Byte-identical programs from one commit, whatever the folder and whenever the build runs
# (docs/RELEASING.md; tests/dist/CMakeLists.txt rebuilds and compares). MinGW only: MSVC builds
# are not claimed reproducible.
if(MSVC)
  return()
endif()

# No link time in the PE header (the checksum over it then follows): the header's time stamp is 0.
add_link_options(-Wl,--no-insert-timestamp)

# The source and build folders never reach the programs through __FILE__ or debug paths. The build
# folder comes last: it is often inside the source folder, and GCC uses the last matching map.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)

# Static archives without times, owners or modes (ar's D, ranlib's -D). Debian's binutils do that
# by default; binutils built otherwise do not.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
