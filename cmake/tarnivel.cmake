# Helpers shared by the subsystem folders: each folder is one library whose
# sources are the .cpp files it holds, so adding a file needs no edit here.

function(tn_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_compile_options(${name} PRIVATE ${TN_LIBRARY_COMPILE_OPTIONS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# How an executable links the libraries' objects: with link-time
# optimisation (programs users time) or their plain code (everything else).
function(tn_link_program name)
  target_link_options(${name} PRIVATE ${TN_PROGRAM_LINK_OPTIONS})
endfunction()
function(tn_link_plain name)
  target_link_options(${name} PRIVATE ${TN_PLAIN_LINK_OPTIONS})
endfunction()

# Every test file opens with GoogleTest and the same standard headers, a
# third of its compile time in parsing alone: they are parsed once, into a
# precompiled header that every test executable's files take first. The
# header belongs to one small executable (tests/support/pch_anchor.cpp)
# compiled with the test executables' flags; every test executable is
# compiled as position-independent code (-fPIC), as Qt requires of those
# linking it, so that one header serves them all.
option(TN_TEST_PCH "Precompile the headers every test file includes" ON)
function(tn_test_pch name)
  if(NOT TN_TEST_PCH)
    return()
  endif()
  if(NOT TARGET tn_test_pch)
    add_executable(tn_test_pch ${PROJECT_SOURCE_DIR}/tests/support/pch_anchor.cpp)
    set_target_properties(tn_test_pch PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_options(tn_test_pch PRIVATE -fPIC)
    target_link_libraries(tn_test_pch PRIVATE GTest::gtest)
    tn_link_plain(tn_test_pch)
    target_precompile_headers(tn_test_pch PRIVATE <gtest/gtest.h> <algorithm> <cmath> <cstdint> <cstdio>
                              <cstdlib> <cstring> <functional> <memory> <string> <vector>)
  endif()
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${name} PRIVATE -fPIC)
  target_precompile_headers(${name} REUSE_FROM tn_test_pch)
endfunction()

# One GoogleTest executable per test folder; every TEST becomes a CTest case.
function(tn_add_test_dir name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  tn_link_plain(${name})
  tn_test_pch(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # A guard against hangs, not a judgment of speed: the heaviest sweeps take
  # over a minute alone under the sanitizers and five beside a full run.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900)
endfunction()

# The same for folders whose tests draw with Qt: their own main (not
# gtest_main) starts a QApplication on the offscreen platform and registers
# the font bundled in the test tree, so pixels do not depend on the machine.
function(tn_add_qt_test_dir name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(${name} ${srcs} ${PROJECT_SOURCE_DIR}/tests/support/qt_test_main.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Widgets GTest::gtest)
  tn_link_plain(${name})
  tn_test_pch(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TN_TEST_FONT_FILE="${PROJECT_SOURCE_DIR}/tests/support/fonts/DejaVuSans.ttf")
  # A guard against hangs, not a judgment of speed: the heaviest sweeps take
  # over a minute alone under the sanitizers and five beside a full run.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900)
endfunction()
