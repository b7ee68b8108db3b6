# Compile settings shared by every target of ours.
function(dm_common_settings target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wno-unused-parameter -Wno-missing-field-initializers)
  if(DM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# dm_add_layer(NAME core SOURCES ... LIBS ...): one library per layer, dm_<name>.
function(dm_add_layer)
  cmake_parse_arguments(L "" "NAME" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(dm_${L_NAME} STATIC ${L_SOURCES})
  dm_common_settings(dm_${L_NAME})
  target_include_directories(dm_${L_NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(dm_${L_NAME} PUBLIC ${L_LIBS} PRIVATE ${L_PRIVATE_LIBS})
  # Fuzz targets compile a layer's sources themselves (see dm_add_fuzz).
  list(TRANSFORM L_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  set_property(GLOBAL PROPERTY DM_LAYER_SOURCES_${L_NAME} ${L_SOURCES})
  # ...and link what those sources use privately.
  set_property(GLOBAL PROPERTY DM_LAYER_PRIVATE_LIBS_${L_NAME} ${L_PRIVATE_LIBS})
endfunction()

# dm_add_test(NAME x SOURCES ... LIBS ... [QT] [LABELS ...] [TIMEOUT s] [XVFB] [ARGS ...]):
# one GoogleTest executable, one CTest entry. QT gives the shared main that owns a Qt
# application object; without it the plain GoogleTest main is used.
function(dm_add_test)
  cmake_parse_arguments(T "QT;XVFB" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  dm_common_settings(${T_NAME})
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE dm_testmain_qt)
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} dm_testsupport GTest::gtest GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    DM_SOURCE_DIR="${CMAKE_SOURCE_DIR}" DM_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  if(T_XVFB)
    add_test(NAME ${T_NAME} COMMAND xvfb-run -a $<TARGET_FILE:${T_NAME}> ${T_ARGS})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# dm_add_bench(NAME x SOURCES ... LIBS ...): a Google Benchmark program; never part of the tests.
function(dm_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  dm_common_settings(${B_NAME})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()

# dm_add_fuzz(NAME x SOURCES ... LAYERS core ... LIBS ... [SECONDS n]): a libFuzzer target,
# built only with clang. The CTest entry runs it for a bounded time with the seed corpus in fuzz/corpus/<x>.
# The code under test is compiled into the target itself so that libFuzzer sees its coverage.
function(dm_add_fuzz)
  cmake_parse_arguments(F "" "NAME;SECONDS" "SOURCES;LAYERS;LIBS" ${ARGN})
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 30)
  endif()
  set(layer_sources)
  set(layer_libs)
  foreach(layer ${F_LAYERS})
    get_property(s GLOBAL PROPERTY DM_LAYER_SOURCES_${layer})
    list(APPEND layer_sources ${s})
    get_property(l GLOBAL PROPERTY DM_LAYER_PRIVATE_LIBS_${layer})
    list(APPEND layer_libs ${l})
  endforeach()
  add_executable(${F_NAME} ${F_SOURCES} ${layer_sources})
  dm_common_settings(${F_NAME})
  target_include_directories(${F_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} ${layer_libs})
  set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${F_NAME})
  set(work ${CMAKE_BINARY_DIR}/fuzz-work/${F_NAME})
  add_test(NAME ${F_NAME}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      sh -c "rm -rf '${work}' && mkdir -p '${work}' && cp -r '${corpus}/.' '${work}/' 2>/dev/null; exec \"$0\" -max_total_time=${F_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 '${work}'"
      $<TARGET_FILE:${F_NAME}>)
  set_tests_properties(${F_NAME} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt (tests/, bench/, fuzz/
# hold one folder per area).
function(dm_add_areas)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT areas)
  foreach(area ${areas})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
