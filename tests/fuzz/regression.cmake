# In the native build: every fuzz harness runs once over its seed corpus (and the
# inputs of past findings) as a regression test. The harnesses need clang, so the
# first test builds them in build/fuzz with tests/fuzz/run.sh.
find_program(VK_CLANGXX clang++)
if(NOT VK_CLANGXX)
  message(WARNING "clang++ not found: the fuzz regression tests are left out (scripts/install-deps.sh)")
  return()
endif()
set(VK_FUZZ_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/fuzz)
add_test(NAME fuzz_build COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run.sh build)
set_tests_properties(fuzz_build PROPERTIES FIXTURES_SETUP fuzz TIMEOUT 900)
foreach(harness comma_list set_text zip_archive zip_names regfile plugin_records)
  add_test(NAME fuzz_corpus_${harness}
           COMMAND ${VK_FUZZ_BUILD_DIR}/tests/fuzz/fuzz_${harness} -runs=0
                   ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${harness})
  set_tests_properties(fuzz_corpus_${harness} PROPERTIES FIXTURES_REQUIRED fuzz TIMEOUT 120)
endforeach()
