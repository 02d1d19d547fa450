# Test programs of the Windows build only. They run under Wine through the
# toolchain's emulator; test programs may link the socket library directly.
target_link_libraries(quorvel_test_support PUBLIC ws2_32)

# A test program whose sources call POSIX sockets directly (peers and doubles
# of the Linux transport) is not built here; the Windows stack has its own
# tests in net_windows/. Its discovery then reports <name>_NOT_BUILT, which
# the Windows run leaves out.
foreach(program net_tests)
  if(NOT TARGET ${program})
    continue()
  endif()
  get_target_property(sources ${program} SOURCES)
  foreach(source ${sources})
    file(STRINGS ${source} posix REGEX "#include <(arpa/|netdb\\.h|netinet/|sys/socket\\.h|poll\\.h)")
    if(posix)
      message(STATUS "${program}: ${source} uses POSIX sockets; not built for Windows")
      set_target_properties(${program} PROPERTIES EXCLUDE_FROM_ALL TRUE)
      break()
    endif()
  endforeach()
endforeach()

quorvel_add_tests(net_windows_tests net_windows quorvel_net quorvel_report)
# Its own definition of the library's file name comes before the network
# library's, so that its stack finds no socket library.
quorvel_add_tests(winsock_missing_tests winsock_missing quorvel_net quorvel_report)

# The Windows shell as its scenario tests build it: loopback hosts, and a
# second one whose stack finds no socket library.
set(wine_start_page_host "127.0.0.1:17480")
set(wine_report_host "127.0.0.1:17481")
foreach(variant quorvel-wine quorvel-wine-nows2)
  add_executable(${variant} WIN32 ${CMAKE_SOURCE_DIR}/shell/windows/main.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/e2e/build_values_e2e.cpp $<TARGET_OBJECTS:quorvel_shell_resources>)
  target_compile_definitions(${variant} PRIVATE
    QUORVEL_E2E_START_PAGE_HOST="${wine_start_page_host}"
    QUORVEL_E2E_REPORT_HOST="${wine_report_host}")
  target_link_libraries(${variant} PRIVATE quorvel_shell_windows quorvel_report quorvel_device_code
    quorvel_install_marker quorvel_warnings)
endforeach()
target_sources(quorvel-wine-nows2 PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/winsock_missing/missing_library.cpp)
target_sources(quorvel-wine PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/shell_windows/tools/navigate_hook.cpp)
target_compile_definitions(quorvel-wine PRIVATE
  QUORVEL_WINE_CLOSE_URL="http://${wine_start_page_host}/quorvl/bye.html?next=c100100")
add_executable(quorvel-probe ${CMAKE_CURRENT_SOURCE_DIR}/shell_windows/tools/probe.cpp)
target_link_libraries(quorvel-probe PRIVATE quorvel_proto shell32 user32 quorvel_warnings)

# The shipped executable's kind and imports, checked on the build machine.
# Only the 32-bit build makes the executable that ships.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME windows_exe.gui_program_without_winsock_import
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/shell_windows/check_executable.sh $<TARGET_FILE:quorvel> ${CMAKE_OBJDUMP})
endif()

# The shell as a user meets it, under Wine and Xvfb (host programs: no
# emulator). They share fixed ports, so they never run at the same time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(scenario window navigate endsession tagguard nows2)
  add_test(NAME wine_shell.${scenario}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/shell_windows/run_wine_shell.py ${scenario}
            --shell $<TARGET_FILE:quorvel-wine> --nows2 $<TARGET_FILE:quorvel-wine-nows2>
            --probe $<TARGET_FILE:quorvel-probe>
            --start-page-host ${wine_start_page_host} --report-host ${wine_report_host}
            --wine-arch ${QUORVEL_WINE_ARCH})
  set_tests_properties(wine_shell.${scenario} PROPERTIES TIMEOUT 400 RESOURCE_LOCK quorvel_wine_ports)
endforeach()

# The Windows shell's pieces, with the system's own WebBrowser control; the
# resources give the test program the main icon.
quorvel_add_tests(shell_windows_tests shell_windows quorvel_shell_windows)
target_sources(shell_windows_tests PRIVATE $<TARGET_OBJECTS:quorvel_shell_resources>)
