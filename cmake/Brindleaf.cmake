# One static library per source folder, built from every .cpp in it.
function(brindleaf_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# The same for a folder on Qt (presentation/, windows/): moc runs on its headers
# and resources (*.qrc) are compiled in.
function(brindleaf_qt_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.hpp"
       "${CMAKE_CURRENT_SOURCE_DIR}/*.qrc")
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Qt6::Widgets Qt6::Svg)
endfunction()

# One test executable per test folder (DIR, below tests/), built from every .cpp
# in it; each test case is a CTest test.
# LABELS names CTest labels; tests labelled "xvfb" need a real X server and run
# inside the Xvfb rig that `make test` starts (tools/with-xvfb.sh). Widget
# tests run on Qt's offscreen platform unless they are labelled "xvfb".
function(brindleaf_tests name)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gmock GTest::gtest_main)
  # One value per property: the test discovery does not keep lists within a property.
  set(properties ENVIRONMENT "BRINDLEAF_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(NOT "xvfb" IN_LIST ARG_LABELS)
    list(APPEND properties ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen")
  endif()
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  # Each test that needs an X server gets a private one of its own (Xvfb,
  # openbox, a session bus), so such tests can run side by side.
  if("xvfb" IN_LIST ARG_LABELS)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/with-xvfb.sh")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
