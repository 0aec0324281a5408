# One static library per layer, made of every source file in its folder.
function(tessel_layer name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(tessel_${name} STATIC ${sources})
    target_include_directories(tessel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tessel_${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(tessel_${name} INTERFACE)
    target_include_directories(tessel_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tessel_${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

# One GoogleTest binary per layer, made of every test file in its folder.
function(tessel_layer_tests name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(tessel_${name}_tests ${sources})
  target_link_libraries(tessel_${name}_tests PRIVATE tessel_test_support ${ARG_DEPENDS} GTest::gmock_main)
  gtest_discover_tests(tessel_${name}_tests
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TESSEL_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data/")
endfunction()

# A fuzz target: linked with libFuzzer in the fuzz preset; elsewhere linked with a replay
# driver and registered as a test that runs it over its seed corpus.
function(tessel_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;CORPUS" ${ARGN})
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPENDS})
  if(TESSEL_FUZZ)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(fuzz_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/replay_main.cpp)
  endif()
  set(dirs "")
  foreach(dir ${ARG_CORPUS})
    list(APPEND dirs ${PROJECT_SOURCE_DIR}/${dir})
  endforeach()
  add_test(NAME fuzz_${name}_replay COMMAND fuzz_${name} ${dirs})
endfunction()
