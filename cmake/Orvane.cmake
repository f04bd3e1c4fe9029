# Shared helpers for the folders' CMakeLists.

# orvane_add_tests(LABEL <label> LIBS <libs...> [DIR <dir>])
# Every tests/*_test.cpp of the calling folder becomes its own test program,
# so one broken test file never stops the others from building.
function(orvane_add_tests)
  cmake_parse_arguments(ARG "" "LABEL;DIR" "LIBS" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${ARG_LABEL}_${name})
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    # Kill loops (files *_kill_test.cpp) kill a saving child a few hundred
    # times and take tens of seconds: they carry their own label, killsave,
    # so `ctest -L killsave` runs them alone and `-LE killsave` leaves them out.
    set(label ${ARG_LABEL})
    if(name MATCHES "_kill_test$")
      set(label killsave)
    endif()
    gtest_discover_tests(${target}
      PROPERTIES LABELS ${label}
      DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()

# orvane_whole_archive(<shared-target> <static-libs...>)
# Links static parts into a deliverable shared library whole, so that every
# exported class and function ends up in it.
function(orvane_whole_archive target)
  foreach(lib ${ARGN})
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${lib}>")
  endforeach()
endfunction()

# Deliverable shared libraries keep their file names: Lumbrix.so, not libLumbrix.so.
function(orvane_deliverable_library target)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".so")
endfunction()

# orvane_subsystem(<name>)
# Adds every sub-folder of the calling folder that has a CMakeLists.txt, and an
# INTERFACE target <name> that links all the parts the sub-folders define
# (a part in folder <sub> is the target <name>_<sub>).
function(orvane_subsystem name)
  file(GLOB subs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  set(parts "")
  foreach(dir ${subs})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
      get_filename_component(sub ${dir} NAME)
      add_subdirectory(${dir})
      if(TARGET ${name}_${sub})
        list(APPEND parts ${name}_${sub})
      endif()
    endif()
  endforeach()
  if(NOT TARGET ${name})
    add_library(${name} INTERFACE)
  endif()
  target_link_libraries(${name} INTERFACE ${parts})
  set(${name}_PARTS ${parts} PARENT_SCOPE)
endfunction()

# orvane_add_bench(<name> <sources...> LIBS <libs...>)
# A Google Benchmark program in build/<preset>/bench/, run by script/bench.
function(orvane_add_bench name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(NOT ORVANE_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name}_bench ${ARG_UNPARSED_ARGUMENTS})
  set_target_properties(${name}_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(${name}_bench PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main Threads::Threads)
  # bench/compare.h. A program that defines its own main (to print today's
  # code path beside the new one) leaves benchmark_main's archive unused.
  target_include_directories(${name}_bench PRIVATE ${PROJECT_SOURCE_DIR}/bench)
endfunction()

# orvane_add_fuzzer(<name> <source> LIBS <libs...>)
# A libFuzzer target (built only with ORVANE_FUZZ=ON, under clang). Its seed
# corpus is the folder fuzz/corpus/<name>/ beside the source: files the
# program itself writes. script/fuzz finds and runs every such target.
function(orvane_add_fuzzer name source)
  if(NOT ORVANE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  # testing/fuzz_file.h, header only.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/testing/include)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()

# orvane_uses_game_client(<test-target>...)
# A test that talks to the client library from a game stand-in process:
# builds both first and tells the test where they are (OVCLIENT_LIBRARY, the
# library; OVCLIENT_DIR, its folder; OVCLIENT_BIN, the folder of the
# stand-in's copies named like games: "Trainz.exe", "LockOn.exe", "Other.exe").
function(orvane_uses_game_client)
  foreach(t ${ARGN})
    if(TARGET ${t})
      add_dependencies(${t} OVClient ov_test_client)
      target_compile_definitions(${t} PRIVATE
        OVCLIENT_LIBRARY="$<TARGET_FILE:OVClient>"
        OVCLIENT_DIR="$<TARGET_FILE_DIR:OVClient>"
        OVCLIENT_BIN="${CMAKE_BINARY_DIR}/tests/ovclients")
    endif()
  endforeach()
endfunction()

# orvane_uses_program(<test-target>...)
# A test that runs the real main program (testing/vistrel_process.h) and
# games beside it: everything the program folder holds is built first, and
# the test learns where (VISTREL_PATH) as well as where the game stand-in is.
function(orvane_uses_program)
  orvane_uses_game_client(${ARGN})
  foreach(t ${ARGN})
    if(TARGET ${t})
      add_dependencies(${t} vistrel VSLViews Vistrel-2002 catalogue)
      target_compile_definitions(${t} PRIVATE VISTREL_PATH="$<TARGET_FILE:vistrel>")
    endif()
  endforeach()
endfunction()
