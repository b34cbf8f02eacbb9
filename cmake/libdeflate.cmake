# libdeflate, built as a static library from Debian's source package, which
# scripts/fetch-libdeflate.sh fetches into the build tree once (Debian ships it
# built only for Linux). Outside our warning rule, like zlib.
execute_process(
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-libdeflate.sh ${CMAKE_BINARY_DIR}/libdeflate
  OUTPUT_VARIABLE VK_LIBDEFLATE_SOURCE OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "libdeflate's source package could not be fetched (scripts/fetch-libdeflate.sh)")
endif()
file(GLOB VK_LIBDEFLATE_SOURCES ${VK_LIBDEFLATE_SOURCE}/lib/*.c ${VK_LIBDEFLATE_SOURCE}/lib/x86/*.c)
add_library(deflate STATIC ${VK_LIBDEFLATE_SOURCES})
target_include_directories(deflate SYSTEM PUBLIC ${VK_LIBDEFLATE_SOURCE})
set_target_properties(deflate PROPERTIES POSITION_INDEPENDENT_CODE ON)
