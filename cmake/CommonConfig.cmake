# Every target links vantorel_common: it carries the language standard, the
# warning set and the sanitizer flags, so no target configures those itself.

option(VANTOREL_WERROR "Treat compiler warnings as errors" OFF)
set(VANTOREL_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, 'address;undefined' or 'thread'")

add_library(vantorel_common INTERFACE)
target_compile_features(vantorel_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(vantorel_common INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wimplicit-fallthrough
    # Designated initializers that name only some members are idiomatic C++20.
    -Wno-missing-field-initializers)
  if(VANTOREL_WERROR)
    target_compile_options(vantorel_common INTERFACE -Werror)
  endif()
  if(VANTOREL_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      message(FATAL_ERROR "VANTOREL_BUILD_FUZZERS needs clang (use the fuzz preset)")
    endif()
    # Coverage feedback for the fuzzers in every library they link.
    target_compile_options(vantorel_common INTERFACE -fsanitize=fuzzer-no-link)
  endif()
  if(VANTOREL_SANITIZE)
    list(JOIN VANTOREL_SANITIZE "," _vantorel_san)
    target_compile_options(vantorel_common INTERFACE
      -fsanitize=${_vantorel_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(vantorel_common INTERFACE -fsanitize=${_vantorel_san})
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND "undefined" IN_LIST VANTOREL_SANITIZE)
      target_compile_options(vantorel_common INTERFACE
        "-fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/ubsan-ignorelist.txt")
    endif()
  endif()
elseif(MSVC)
  target_compile_options(vantorel_common INTERFACE /W4 /utf-8 /permissive-)
  if(VANTOREL_WERROR)
    target_compile_options(vantorel_common INTERFACE /WX)
  endif()
endif()
