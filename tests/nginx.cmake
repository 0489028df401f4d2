# Debian's nginx as the CTest fixture `nginx_server`: the real web server that end-to-end tests
# reach through http_proxy for the updater's fixed address. Its setup starts a private nginx
# (tools/nginx/nginx.sh) serving ${PLINTHWARE_NGINX_DOCROOT} on a free port of 127.0.0.1 and
# writes its address into ${PLINTHWARE_WINE_DIR}/nginx_proxy; its cleanup stops it and removes
# that file. The setup also watches CTest, so the server ends with an interrupted run.
include_guard(GLOBAL)

if(NOT CMAKE_CROSSCOMPILING)
  # Only Wine's WinINet takes its proxy from http_proxy; on Windows the fixture has no way in.
  function(plinthware_use_nginx_server)
  endfunction()
  return()
endif()

find_program(PLINTHWARE_NGINX nginx PATHS /usr/sbin /usr/local/sbin)
if(NOT PLINTHWARE_NGINX)
  message(FATAL_ERROR "nginx was not found: the end-to-end tests and the demo serve their files with "
                      "it (Debian: apt-get install nginx-light), or name it with -DPLINTHWARE_NGINX=<path>.")
endif()

# Cached so that every folder sees them, wherever this file was first included.
set(PLINTHWARE_NGINX_DIR ${CMAKE_BINARY_DIR}/nginx CACHE INTERNAL "nginx.conf, port, proxy, requests.log, logs/")
set(PLINTHWARE_NGINX_DOCROOT ${PLINTHWARE_NGINX_DIR}/docroot CACHE INTERNAL "What the nginx fixture serves")
set(PLINTHWARE_NGINX_PROXY_FILE ${PLINTHWARE_WINE_DIR}/nginx_proxy CACHE INTERNAL
    "http://127.0.0.1:PORT while the nginx fixture runs")

# With the test certificates (tools/certs) it also serves HTTPS, one port per certificate for
# localhost: a good one, an expired one and one for another name (ports in DIR/port.<name>).
# A fourth, `info`, serves the localhost certificate on a fixed port, compiled into the test build
# whose Info-file address is https (tests/e2e): one port per build folder, below the range the
# system hands out free ports from (32768 and up), so no other server's free port takes it.
set(nginx_tls)
if(PLINTHWARE_TEST_CERTS_DIR)
  foreach(name localhost localhost_expired wronghost)
    list(APPEND nginx_tls --tls ${name}=${PLINTHWARE_TEST_CERTS_DIR}/${name})
  endforeach()
  string(MD5 folder_hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${folder_hash}" 0 4 folder_hash)
  math(EXPR info_port "20000 + 0x${folder_hash} % 12000")
  set(PLINTHWARE_TEST_INFO_TLS_PORT ${info_port} CACHE STRING "HTTPS port of the test Info-file address")
  list(APPEND nginx_tls --tls info=${PLINTHWARE_TEST_CERTS_DIR}/localhost --port info=${PLINTHWARE_TEST_INFO_TLS_PORT})
endif()
# CTest starts the setup itself, so --watch-parent watches CTest: the server ends with the run.
add_test(NAME nginx_server_setup
  COMMAND ${PROJECT_SOURCE_DIR}/tools/nginx/nginx.sh start ${PLINTHWARE_NGINX_DIR}
          --proxy-file ${PLINTHWARE_NGINX_PROXY_FILE} --watch-parent ${nginx_tls})
add_test(NAME nginx_server_cleanup
  COMMAND ${PROJECT_SOURCE_DIR}/tools/nginx/nginx.sh stop ${PLINTHWARE_NGINX_DIR}
          --proxy-file ${PLINTHWARE_NGINX_PROXY_FILE})
set_tests_properties(nginx_server_setup PROPERTIES FIXTURES_SETUP nginx_server TIMEOUT 60
                     ENVIRONMENT "PLINTHWARE_NGINX=${PLINTHWARE_NGINX}")
set_tests_properties(nginx_server_cleanup PROPERTIES FIXTURES_CLEANUP nginx_server TIMEOUT 60)

# plinthware_use_nginx_server(test...): the tests find the docroot and the file that holds the
# proxy address (Unix paths; Wine shows them under Z:) in the environment variables
# PLINTHWARE_NGINX_DOCROOT and PLINTHWARE_NGINX_PROXY_FILE. They still name the fixture in
# plinthware_add_test(... FIXTURES nginx_server).
function(plinthware_use_nginx_server)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "PLINTHWARE_NGINX_DOCROOT=${PLINTHWARE_NGINX_DOCROOT}"
                 "PLINTHWARE_NGINX_PROXY_FILE=${PLINTHWARE_NGINX_PROXY_FILE}")
  endforeach()
endfunction()
