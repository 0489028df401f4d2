# Debian's squid as the CTest fixture `squid_server`: a real proxy in front of the nginx fixture,
# for the end-to-end tests of the updater behind a proxy. Its setup starts a private squid
# (tools/squid/squid.sh) on two free ports of 127.0.0.1, one open and one asking for Basic
# authentication as ${PLINTHWARE_SQUID_USER}; its cleanup stops it. The setup also watches CTest,
# so squid ends with an interrupted run. It needs nginx for as long as it runs.
include_guard(GLOBAL)

if(NOT CMAKE_CROSSCOMPILING)
  function(plinthware_use_squid_server)
  endfunction()
  return()
endif()

find_program(PLINTHWARE_SQUID squid PATHS /usr/sbin /usr/local/sbin)
if(NOT PLINTHWARE_SQUID)
  message(FATAL_ERROR "squid was not found: the end-to-end tests behind a proxy run it (Debian: apt-get install "
                      "squid), or name it with -DPLINTHWARE_SQUID=<path>.")
endif()

set(PLINTHWARE_SQUID_DIR ${CMAKE_BINARY_DIR}/squid CACHE INTERNAL "squid.conf, proxy, proxy_basic, run/access.log")
# A test account of the test proxy only: the password guards nothing.
set(PLINTHWARE_SQUID_USER "plinthware:proxy-test" CACHE INTERNAL "USER:PASSWORD of the Basic port")

add_test(NAME squid_server_setup
  COMMAND ${PROJECT_SOURCE_DIR}/tools/squid/squid.sh start ${PLINTHWARE_SQUID_DIR}
          --parent-port-file ${PLINTHWARE_NGINX_DIR}/port --basic ${PLINTHWARE_SQUID_USER} --watch-parent)
add_test(NAME squid_server_cleanup COMMAND ${PROJECT_SOURCE_DIR}/tools/squid/squid.sh stop ${PLINTHWARE_SQUID_DIR})
set_tests_properties(squid_server_setup PROPERTIES FIXTURES_SETUP squid_server FIXTURES_REQUIRED nginx_server
                     TIMEOUT 90 ENVIRONMENT "PLINTHWARE_SQUID=${PLINTHWARE_SQUID}")
set_tests_properties(squid_server_cleanup PROPERTIES FIXTURES_CLEANUP squid_server FIXTURES_REQUIRED nginx_server
                     TIMEOUT 90)

# plinthware_use_squid_server(test...): the tests find squid's folder (a Unix path; Wine shows it
# under Z:) in PLINTHWARE_SQUID_DIR and the Basic account in PLINTHWARE_SQUID_USER. They still
# name the fixtures in plinthware_add_test(... FIXTURES nginx_server squid_server).
function(plinthware_use_squid_server)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "PLINTHWARE_SQUID_DIR=${PLINTHWARE_SQUID_DIR}" "PLINTHWARE_SQUID_USER=${PLINTHWARE_SQUID_USER}")
  endforeach()
endfunction()
