# The CTest entry clang_compile: every source of src/ (the product, not the tests) compiled, not
# linked, by clang for 64-bit Windows against the MinGW-w64 headers, with the product's
# definitions and warnings as errors. A second compiler is our nearest check of portability.
# The sources are listed when the test runs, so that moved or added files are always included.
#   cmake -DCLANG=<clang++> -DSOURCE_DIR=<src> -DINCLUDES=<a|b> -DSYSTEM_INCLUDES=<a|b>
#         -DDEFINITIONS=<a|b> -P clang_compile.cmake
if(NOT CLANG)
  message(FATAL_ERROR "clang++ was not found when the build was configured (Debian: clang; sh tools/setup.sh)")
endif()
foreach(list INCLUDES SYSTEM_INCLUDES DEFINITIONS)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
file(GLOB_RECURSE sources LIST_DIRECTORIES false "${SOURCE_DIR}/*.cpp")
list(SORT sources)
if(NOT sources)
  message(FATAL_ERROR "no sources under ${SOURCE_DIR}")
endif()

set(flags --target=x86_64-w64-windows-gnu -std=c++17 -fsyntax-only -Wall -Wextra -Werror
          -fstack-protector-strong -D_FORTIFY_SOURCE=2
          # clang would add the host's /usr/include and libstdc++; only MinGW-w64's may be seen.
          -nostdlibinc -nostdinc++)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags "-I${dir}")
endforeach()
foreach(dir IN LISTS SYSTEM_INCLUDES)
  list(APPEND flags -isystem "${dir}")
endforeach()
foreach(definition IN LISTS DEFINITIONS)
  list(APPEND flags "-D${definition}")
endforeach()

set(failed "")
foreach(source IN LISTS sources)
  execute_process(COMMAND "${CLANG}" ${flags} "${source}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
  if(NOT result EQUAL 0)
    message("${output}")
    list(APPEND failed "${name}")
  endif()
endforeach()
list(LENGTH sources count)
if(failed)
  message(FATAL_ERROR "clang rejected: ${failed}")
endif()
message("clang compiled ${count} sources of ${SOURCE_DIR} without a warning")
