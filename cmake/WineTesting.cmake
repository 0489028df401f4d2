# Test programs are Windows programs: CTest runs them through tools/wine/run.sh in a private
# prefix under the build folder. The `wine` fixture creates the prefix and an Xvfb display once
# per run and removes every process it started at the end.
set(PLINTHWARE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/wine/run.sh ${PLINTHWARE_WINE_DIR})
