# Every fuzz harness runs once over its seed corpus (and the inputs of past findings)
# as a regression test. Natively the harnesses need clang, so the first test builds
# them in build/fuzz with tests/fuzz/run.sh. The Windows trees build each harness with
# a small driver instead of libFuzzer, so the corpora also run on mingw-w64's runtime.
set(VK_FUZZ_HARNESSES comma_list set_text zip_archive zip_names regfile plugin_records)
if(WIN32)
  foreach(harness ${VK_FUZZ_HARNESSES})
    add_executable(corpus_${harness} ${PROJECT_SOURCE_DIR}/tests/fuzz/${harness}_fuzz.cpp
                                     ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus_driver.cpp)
    vk_target(corpus_${harness})
    target_link_libraries(corpus_${harness} PRIVATE vkcore)
    set_target_properties(corpus_${harness} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    add_test(NAME fuzz_corpus_${harness}
             COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/winrun.sh $<TARGET_FILE:corpus_${harness}>
                     ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${harness})
    set_tests_properties(fuzz_corpus_${harness} PROPERTIES TIMEOUT 120 RESOURCE_LOCK wine
                         ENVIRONMENT "VK_BUILD=${CMAKE_BINARY_DIR}")
  endforeach()
  return()
endif()
find_program(VK_CLANGXX clang++)
if(NOT VK_CLANGXX)
  message(WARNING "clang++ not found: the fuzz regression tests are left out (scripts/install-deps.sh)")
  return()
endif()
set(VK_FUZZ_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/fuzz)
add_test(NAME fuzz_build COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run.sh build)
set_tests_properties(fuzz_build PROPERTIES FIXTURES_SETUP fuzz TIMEOUT 900)
foreach(harness ${VK_FUZZ_HARNESSES})
  add_test(NAME fuzz_corpus_${harness}
           COMMAND ${VK_FUZZ_BUILD_DIR}/tests/fuzz/fuzz_${harness} -runs=0
                   ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${harness})
  set_tests_properties(fuzz_corpus_${harness} PROPERTIES FIXTURES_REQUIRED fuzz TIMEOUT 120)
endforeach()
