# Every subsystem is one folder of sources; new files are picked up without
# editing the build, so parallel work on separate subsystems never collides here.
function(velmora_core_sources out)
  set(all)
  foreach(sub IN LISTS ARGN)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS
      ${CMAKE_SOURCE_DIR}/src/${sub}/*.cpp)
    list(APPEND all ${files})
  endforeach()
  set(${out} ${all} PARENT_SCOPE)
endfunction()

# One test program per subsystem folder under tests/, linked with the given
# libraries; each test case becomes one CTest entry.
function(velmora_test_program sub)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS;LABELS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${sub}/*.cpp)
  if(NOT files)
    return()
  endif()
  add_executable(${sub}_tests ${files})
  target_link_libraries(${sub}_tests PRIVATE velmora_test_support ${ARG_LIBS} GTest::gtest GTest::gmock)
  # A program that needs its own main (a display, a toolkit) sets OWN_MAIN.
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${sub}_tests PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${sub}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${sub};${ARG_LABELS}" TIMEOUT 600)
endfunction()
