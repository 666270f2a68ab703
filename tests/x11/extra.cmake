# The X tests need their own server fixture, a second xcb connection and XTEST for fake clicks.
pkg_check_modules(XCB_XTEST REQUIRED IMPORTED_TARGET xcb-xtest)
target_sources(x11_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/support/xvfb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/x_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/proc_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/running_app.cpp)
target_include_directories(x11_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(x11_tests PRIVATE PkgConfig::XCB PkgConfig::XCB_XTEST)
