# Additional clean files
cmake_minimum_required(VERSION 3.16)

if("${CONFIG}" STREQUAL "" OR "${CONFIG}" STREQUAL "Release")
  file(REMOVE_RECURSE
  "CMakeFiles/chromaduct-convert_autogen.dir/AutogenUsed.txt"
  "CMakeFiles/chromaduct-convert_autogen.dir/ParseCache.txt"
  "CMakeFiles/chromaduct_cli_autogen.dir/AutogenUsed.txt"
  "CMakeFiles/chromaduct_cli_autogen.dir/ParseCache.txt"
  "CMakeFiles/chromaduct_core_autogen.dir/AutogenUsed.txt"
  "CMakeFiles/chromaduct_core_autogen.dir/ParseCache.txt"
  "chromaduct-convert_autogen"
  "chromaduct_cli_autogen"
  "chromaduct_core_autogen"
  "tests/CMakeFiles/chromaduct_testsupport_autogen.dir/AutogenUsed.txt"
  "tests/CMakeFiles/chromaduct_testsupport_autogen.dir/ParseCache.txt"
  "tests/chromaduct_testsupport_autogen"
  )
endif()
