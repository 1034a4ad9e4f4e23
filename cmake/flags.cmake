# One place for warnings and sanitizer flags; every target links stbmate_flags.
add_library(stbmate_flags INTERFACE)
target_compile_options(stbmate_flags INTERFACE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
                       -Wcast-align -Wunused -Woverloaded-virtual)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(stbmate_flags INTERFACE -Wshadow=local)
endif()
target_include_directories(stbmate_flags INTERFACE ${PROJECT_SOURCE_DIR})

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
