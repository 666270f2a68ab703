# SPDX-License-Identifier: MIT
# The X tests need their own server fixture, a second xcb connection and XTEST for fake clicks.
pkg_check_modules(XCB_XTEST REQUIRED IMPORTED_TARGET xcb-xtest)
target_sources(x11_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/support/xvfb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/x_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/proc_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/running_app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/core_length_proxy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/xvfb_dock.cpp)
target_include_directories(x11_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(x11_tests PRIVATE PkgConfig::XCB PkgConfig::XCB_XTEST PkgConfig::XCB_SHAPE)

# The window-manager table runs each dock-holding manager on its own server: its own executable
# and label, so it can be run or left out on its own.
add_executable(wm_tests
  ${CMAKE_CURRENT_LIST_DIR}/wm/window_managers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/xvfb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/x_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/proc_probe.cpp)
target_include_directories(wm_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(wm_tests PRIVATE glyphrain_flags glyphrain_test_support GTest::gtest_main
                      PkgConfig::XCB PkgConfig::XCB_XTEST PkgConfig::XCB_SHAPE)
target_compile_definitions(wm_tests PRIVATE GLYPHRAIN_BINARY="$<TARGET_FILE:glyphRain>")
add_dependencies(wm_tests glyphRain)
gtest_discover_tests(wm_tests NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS wm)
