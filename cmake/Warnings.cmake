# Warnings are on for all of our own targets and must stay clean.
add_library(mg_warnings INTERFACE)
target_compile_options(mg_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -Wnon-virtual-dtor -Wcast-align -Wnull-dereference -Wformat=2)
option(MG_WERROR "Treat warnings as errors" ON)
if(MG_WERROR)
  target_compile_options(mg_warnings INTERFACE -Werror)
endif()

# Helper: a static library of one subsystem with the project's defaults.
function(mg_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE mg_warnings)
endfunction()
