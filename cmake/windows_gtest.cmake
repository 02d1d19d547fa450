# GoogleTest for the cross build, compiled from Debian's source package (there
# is no MinGW build of it to find), with the names find_package(GTest) gives.
set(QUORVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
if(NOT EXISTS ${QUORVEL_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QUORVEL_GTEST_SOURCE} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUORVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(t gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${t})
    add_library(GTest::${t} ALIAS ${t})
  endif()
endforeach()
# Discovery runs the programs under Wine: at test time, so that building needs
# no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
