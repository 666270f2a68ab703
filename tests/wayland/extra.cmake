# SPDX-License-Identifier: MIT
# The Wayland tests run sway and a bare libwayland-server display of their own, watch the X side
# of a fallback through the X tests' helpers, and click through tools/wayland_pointer.
pkg_check_modules(WAYLAND_SERVER REQUIRED IMPORTED_TARGET wayland-server)
pkg_check_modules(XCB_XTEST REQUIRED IMPORTED_TARGET xcb-xtest)
target_sources(wayland_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/support/sway.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../x11/support/xvfb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../x11/support/x_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../x11/support/proc_probe.cpp)
target_include_directories(wayland_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                           ${CMAKE_CURRENT_LIST_DIR}/../x11)
target_link_libraries(wayland_tests PRIVATE PkgConfig::WAYLAND_SERVER PkgConfig::XCB
                      PkgConfig::XCB_XTEST PkgConfig::XCB_SHAPE)
target_compile_definitions(wayland_tests PRIVATE
  GLYPHRAIN_WAYLAND_POINTER="$<TARGET_FILE:wayland_pointer>")
add_dependencies(wayland_tests wayland_pointer)
