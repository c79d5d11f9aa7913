# A reader that grows its string with resize_and_overwrite (the next standard's) fills the bytes
# it reads without clearing them first: a 100 MB text is 100 MB less to write before it is
# used. Such a reader is built to the next standard as an object library of its own (CMake picks
# each compiler's flag for it); the rest of the code stays within C++20, and a standard library
# without the call builds the plain resize() instead.
include_guard(GLOBAL)
include(CheckCXXSourceCompiles)

function(quorvane_uncleared_reader target)
  set(CMAKE_CXX_STANDARD 23)
  check_cxx_source_compiles([[
#include <string>
int main() {
    std::string s;
    s.resize_and_overwrite(1, [](char* p, std::size_t n) { *p = 'x'; return n; });
    return s.size() == 1 ? 0 : 1;
}]] QUORVANE_HAS_RESIZE_AND_OVERWRITE)
  add_library(${target} OBJECT ${ARGN})
  if(QUORVANE_HAS_RESIZE_AND_OVERWRITE)
    set_target_properties(${target} PROPERTIES CXX_STANDARD 23)
  endif()
endfunction()
