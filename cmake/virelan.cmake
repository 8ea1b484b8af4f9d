# Shared build settings: warnings, sanitizers and the helpers that declare our
# libraries, programs and tests the same way everywhere.

set(VIRELAN_WARNINGS -Wall -Wextra -Werror)

if(VIRELAN_SANITIZE STREQUAL "address")
  set(VIRELAN_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
elseif(VIRELAN_SANITIZE STREQUAL "thread")
  set(VIRELAN_SANITIZE_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VIRELAN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VIRELAN_SANITIZE must be address, thread or empty, not '${VIRELAN_SANITIZE}'")
endif()
if(VIRELAN_SANITIZE_FLAGS)
  add_compile_options(${VIRELAN_SANITIZE_FLAGS})
  add_link_options(${VIRELAN_SANITIZE_FLAGS})
endif()

# virelan_library(NAME SOURCES... [DEPS ...]): one static library per subsystem,
# included as <subsystem>/<file>.h from the project's root.
function(virelan_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${VIRELAN_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# virelan_program(NAME SOURCES... [DEPS ...])
function(virelan_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VIRELAN_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# virelan_gtest(NAME [THREADED] LABELS ... SOURCES ... DEPS ... [DEFINITIONS ...] [TIMEOUT s]
# [RESOURCE_LOCK name]): a
# GoogleTest program whose tests ctest discovers one by one, so each runs in a
# fresh process. THREADED marks a program that runs threads of our own, or
# starts a program of ours that does: a ThreadSanitizer build
# (VIRELAN_SANITIZE=thread) builds only those.
function(virelan_gtest name)
  cmake_parse_arguments(ARG "THREADED" "TIMEOUT;RESOURCE_LOCK" "SOURCES;DEPS;LABELS;DEFINITIONS"
                        ${ARGN})
  if(VIRELAN_SANITIZE STREQUAL "thread" AND NOT ARG_THREADED)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VIRELAN_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock
                                        Threads::Threads)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  # One label per program: gtest_discover_tests cannot pass a list of them on.
  # RESOURCE_LOCK: tests that need one shared thing (the update server's fixed
  # port of the test build) never run at the same time.
  set(lock)
  if(ARG_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT} ${lock}
    DISCOVERY_TIMEOUT 30)
endfunction()

# Large files: 64-bit file sizes from stat() on 32-bit targets too.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# Fuzzing: our code is instrumented for coverage; each target links libFuzzer.
if(VIRELAN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VIRELAN_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# virelan_fuzzer(NAME SOURCES ... DEPS ...): a libFuzzer program in <build>/bin.
function(virelan_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${VIRELAN_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
