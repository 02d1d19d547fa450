# Test programs of the Windows build only. They run under Wine through the
# toolchain's emulator; test programs may link the socket library directly.
target_link_libraries(quorvel_test_support PUBLIC ws2_32)

quorvel_add_tests(net_windows_tests net_windows quorvel_net quorvel_report)
# Its own definition of the library's file name comes before the network
# library's, so that its stack finds no socket library.
quorvel_add_tests(winsock_missing_tests winsock_missing quorvel_net quorvel_report)
