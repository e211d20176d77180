# Shared settings for every target of the project: warnings, sanitizers and test registration.

function(aurelo_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(AURELO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(AURELO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(AURELO_FUZZ)
    # Instrumented for libFuzzer's coverage feedback; only the fuzz targets link its driver.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# aurelo_include_root(target folder): headers are included as "folder/Header.hpp". Each library
# gets an include root of its own that holds only a link to its folder, so a library sees the
# headers of itself and of the libraries it links (whose roots travel with them) and no others;
# an include of a layer it does not depend on fails to compile.
function(aurelo_include_root target folder source_dir)
  set(root ${PROJECT_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${source_dir} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# aurelo_library(name SOURCES ... DEPENDS ...): one static library per src/ folder.
function(aurelo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  aurelo_include_root(${name} ${folder} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  aurelo_target_settings(${name})
endfunction()

# aurelo_test(name LABEL label SOURCES ... DEPENDS ...): one GoogleTest executable per area.
# Labels: unit (no display, no bus), keyring (session bus and Secret Service), webkit and gui
# (virtual display), e2e (the built application).
function(aurelo_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main GTest::gmock)
  # Shared test helpers are included as "support/Helper.hpp".
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  aurelo_target_settings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT})
  # Tests that drive the display with real input, or listen to the sound server, share one
  # screen, pointer and sound server: run them one at a time so they cannot steal each other's
  # focus, clicks or audio.
  if(ARG_LABEL MATCHES "^(webkit|gui|e2e|captions)$")
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
  # A GTK critical in the window is a fault of ours that shows nowhere else.
  if(ARG_LABEL MATCHES "^(gui|e2e)$")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "G_DEBUG=fatal-criticals")
  endif()
endfunction()
