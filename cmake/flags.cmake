# One place for warnings and sanitizer flags; every target links stbmate_flags.
add_library(stbmate_flags INTERFACE)
target_compile_options(stbmate_flags INTERFACE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
                       -Wcast-align -Wunused -Woverloaded-virtual)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(stbmate_flags INTERFACE -Wshadow=local)
endif()

# stbmate_expose(target folder [PRIVATE]): lets target, and (PUBLIC, the default) whatever links
# it, include "folder/x.h". Each folder gets an include root of its own in the build tree that
# holds only a link to that folder, so a file can include another folder's headers only when
# its target links that folder's library: an arrow that is not in the build files does not
# compile.
function(stbmate_expose target folder)
  set(scope PUBLIC)
  if(ARGV2)
    set(scope ${ARGV2})
  endif()
  string(REPLACE "/" "_" root_name "${folder}")
  set(root ${CMAKE_BINARY_DIR}/include/${root_name})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

option(STBMATE_WERROR "Treat warnings as errors" OFF)
if(STBMATE_WERROR)
  target_compile_options(stbmate_flags INTERFACE -Werror)
endif()

# STBMATE_SANITIZE: empty, "address" (ASan+UBSan) or "thread" (TSan).
set(STBMATE_SANITIZE "" CACHE STRING "Sanitizer build: address or thread")
if(STBMATE_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(STBMATE_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(_san)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
