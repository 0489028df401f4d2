# The fault-injecting web server of the download tests (tools/testserver), as the CTest fixture
# `http_server`: its setup starts the server on a free port of 127.0.0.1 and writes its address
# into ${PLINTHWARE_WINE_DIR}/proxy, which tools/wine/run.sh hands every test program as
# http_proxy; its cleanup stops the server and removes that file.
if(NOT CMAKE_CROSSCOMPILING)
  # Only Wine's WinINet takes its proxy from http_proxy; on Windows the fixture has no way in.
  function(plinthware_use_http_server)
  endfunction()
  return()
endif()

find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(PLINTHWARE_HTTP_DIR ${CMAKE_BINARY_DIR}/testserver)      # port, requests.log, server.log
set(PLINTHWARE_HTTP_DOCROOT ${PLINTHWARE_HTTP_DIR}/docroot)  # what the server serves

add_test(NAME http_server_setup
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/testserver/testserver.py setup
          --dir ${PLINTHWARE_HTTP_DIR} --proxy-file ${PLINTHWARE_WINE_DIR}/proxy)
add_test(NAME http_server_cleanup
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/testserver/testserver.py cleanup
          --dir ${PLINTHWARE_HTTP_DIR} --proxy-file ${PLINTHWARE_WINE_DIR}/proxy)
set_tests_properties(http_server_setup PROPERTIES FIXTURES_SETUP http_server TIMEOUT 60)
set_tests_properties(http_server_cleanup PROPERTIES FIXTURES_CLEANUP http_server TIMEOUT 60)

# plinthware_use_http_server(test...): the tests find the docroot (a Unix path; Wine shows it
# under Z:) in the environment variable PLINTHWARE_TEST_DOCROOT. They still name the fixture in
# plinthware_add_test(... FIXTURES http_server).
function(plinthware_use_http_server)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "PLINTHWARE_TEST_DOCROOT=${PLINTHWARE_HTTP_DOCROOT}")
  endforeach()
endfunction()
