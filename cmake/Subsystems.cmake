# Every folder under src/ is one static library built from a glob of that
# folder: new files are picked up without editing the build, so parallel work
# on separate folders never collides here. A library links only the libraries
# of the folders below it (ARCHITECTURE.md lists the order).
function(velmora_layer folder)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE;EXTRA_SOURCES" ${ARGN})
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  add_library(velmora_${folder} STATIC ${files} ${ARG_EXTRA_SOURCES})
  target_include_directories(velmora_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(velmora_${folder} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# One test program per folder under tests/, linked with the given libraries;
# each test case becomes one CTest entry.
function(velmora_test_program sub)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS;LABELS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${sub}/*.cpp)
  if(NOT files)
    return()
  endif()
  string(REPLACE "/" "_" name ${sub})
  add_executable(${name}_tests ${files})
  target_link_libraries(${name}_tests PRIVATE velmora_test_support ${ARG_LIBS} GTest::gtest GTest::gmock)
  # A program that needs its own main (a display, a toolkit) sets OWN_MAIN.
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name}_tests PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${name}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${name};${ARG_LABELS}" TIMEOUT 600)
endfunction()

# A test program built with AddressSanitizer from the given sources (the code
# under test is compiled into it, not linked from the uninstrumented
# libraries), run as one CTest entry.
function(velmora_asan_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE -fsanitize=address -fno-omit-frame-pointer)
  target_link_options(${name} PRIVATE -fsanitize=address)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "asan;${ARG_LABELS}" TIMEOUT 600
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1")
endfunction()

# The session bus that display tests and the screenshot program run on: it
# offers only the services in the build's own folder, never the machine's.
# Run a program on it with ${VELMORA_TEST_SESSION}.
set(VELMORA_TEST_SERVICES_DIR ${PROJECT_BINARY_DIR}/test-session/services)
file(MAKE_DIRECTORY ${VELMORA_TEST_SERVICES_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/test-session-bus.conf.in ${PROJECT_BINARY_DIR}/test-session/bus.conf @ONLY)
set(VELMORA_TEST_SESSION
    xvfb-run -a -s "-screen 0 1920x1200x24" dbus-run-session --config-file=${PROJECT_BINARY_DIR}/test-session/bus.conf --)

# A test program that needs a display: one CTest entry for the whole program,
# run under its own Xvfb with a session bus of its own (applications register
# their name there). The lock keeps two Xvfb starts from racing for the same
# display number.
function(velmora_display_test_program sub)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS;ENVIRONMENT" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${sub}/*.cpp)
  if(NOT files)
    return()
  endif()
  # A program of its own for a part of a folder: "workspace/import".
  string(REPLACE "/" "_" name ${sub})
  add_executable(${name}_tests ${files})
  target_link_libraries(${name}_tests PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  add_test(NAME ${name}_tests
    COMMAND ${VELMORA_TEST_SESSION} $<TARGET_FILE:${name}_tests>)
  set_tests_properties(${name}_tests PROPERTIES
    LABELS "${name};display;${ARG_LABELS}" TIMEOUT 900
    RESOURCE_LOCK xvfb
    ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()
