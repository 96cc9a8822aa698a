# tarvo_unit_tests(NAME <exe> DIR <folder> LIBS <targets...>)
# Collects every *_test.cpp of a folder into one GoogleTest executable and
# registers its tests with CTest. Tests that need Firebird carry the label
# "db" through their suite name ending in "Db" (see tests/README).
function(tarvo_unit_tests)
  cmake_parse_arguments(T "" "NAME;DIR" "LIBS" ${ARGN})
  if(NOT TARVO_BUILD_TESTS)
    return()
  endif()
  file(GLOB _tests CONFIGURE_DEPENDS ${T_DIR}/*_test.cpp)
  if(NOT _tests)
    return()
  endif()
  add_executable(${T_NAME} ${_tests})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# Sources of a folder without its tests.
function(tarvo_sources OUT DIR)
  file(GLOB _src CONFIGURE_DEPENDS ${DIR}/*.cpp)
  list(FILTER _src EXCLUDE REGEX "_test\\.cpp$")
  set(${OUT} ${_src} PARENT_SCOPE)
endfunction()
