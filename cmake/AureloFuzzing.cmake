# What the libFuzzer build (AURELO_FUZZ, the "fuzz" preset) needs from the compiler.

if(NOT AURELO_FUZZ)
  return()
endif()

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "AURELO_FUZZ needs clang (libFuzzer is part of clang): configure with the "
                      "fuzz preset, which uses clang++-16 from scripts/deps")
endif()
if(AURELO_SANITIZE)
  message(FATAL_ERROR "AURELO_FUZZ already builds with the address and undefined-behaviour "
                      "sanitizers; leave AURELO_SANITIZE off")
endif()

# libstdc++ 12 declares std::expected only when the compiler announces C++20 concepts at
# 202002L, the revision with conditionally trivial special members that its implementation
# relies on. Clang 16 implements that revision but still announces 201907L (later versions
# announce 202002L), so with clang 16 <expected> is empty. Announcing the revision the compiler
# does implement makes libstdc++'s std::expected available.
if(CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 16 AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 19)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS "-std=c++2b")
  check_cxx_source_compiles("#include <expected>\nint main() { std::expected<int, int> e = 1; return *e - 1; }"
                            AURELO_EXPECTED_AS_IS)
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT AURELO_EXPECTED_AS_IS)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-U__cpp_concepts>
                        $<$<COMPILE_LANGUAGE:CXX>:-D__cpp_concepts=202002L>)
  endif()
endif()
