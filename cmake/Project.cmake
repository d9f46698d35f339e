# Shared build settings: warnings, sanitizers, the Win32 specifics and test helpers.

# Where the shared reference data lives (real ABF files and the vendor library's
# answers). Tests that need it skip when it is absent.
set(KAV_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" CACHE PATH "Shared reference data folder")
get_filename_component(KAV_SHARED_DIR "${KAV_SHARED_DIR}" ABSOLUTE)

if(KAV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # SSE arithmetic, so float results equal the x86-64 build's; no runtime DLLs
  # (-static also links the posix thread library in, instead of libwinpthread-1.dll).
  add_compile_options(-msse2 -mfpmath=sse)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# The Windows builds: Win32 (IGOR.exe, kav_Sorvan.xop) and Win64 (Igor64.exe,
# kav_Sorvan64.xop), the names the host's two programs and their plug-ins go by.
set(KAV_WIN64 OFF)
set(KAV_HOST_PROGRAM IGOR)
set(KAV_PLUGIN_NAME kav_Sorvan)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KAV_WIN64 ON)
  set(KAV_HOST_PROGRAM Igor64)
  set(KAV_PLUGIN_NAME kav_Sorvan64)
endif()
# What runs this configuration's programs (tests that start them by path): the
# Wine wrapper of its width, and the host program in bin/.
set(KAV_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
if(KAV_WIN64)
  set(KAV_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine64-run.sh)
endif()
set(KAV_HOST_EXE ${CMAKE_BINARY_DIR}/bin/${KAV_HOST_PROGRAM}.exe)

# Whether this machine runs the programs this configuration builds: the native ones
# and the 64-bit Windows ones (under the 64-bit Wine loader) always; the 32-bit
# Windows ones only where the kernel runs 32-bit programs (the 32-bit Wine loader is
# one). ./run asks cmake/runs-win32.sh once and hands the
# answer over as KAV_WIN32_RUNS and KAV_WIN32_WHY; a configuration made without
# ./run asks it here. Where the programs cannot run, they are still built, the tests
# that only read their files still run, and those that would execute them are
# registered under their own names as skipped, with the reason (kav_exec_test).
set(KAV_RUNS_HERE ON)
set(KAV_NOT_RUN_WHY "")
if(WIN32)
  if(NOT DEFINED KAV_WIN32_RUNS)
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/runs-win32.sh
      RESULT_VARIABLE rc OUTPUT_VARIABLE KAV_WIN32_WHY OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0)
      set(KAV_WIN32_RUNS ON)
    else()
      set(KAV_WIN32_RUNS OFF)
    endif()
  endif()
  message(STATUS "${KAV_WIN32_WHY}")
  # (The 64-bit configuration asks too: its comparison of the builds takes the
  # 32-bit one in where it runs.)
  if(NOT KAV_WIN32_RUNS AND NOT KAV_WIN64)
    set(KAV_RUNS_HERE OFF)
    set(KAV_NOT_RUN_WHY "${KAV_WIN32_WHY}")
  endif()
endif()

# kav_skipped_test(NAME): a test of that name that CTest reports as skipped, saying
# why this machine cannot run it.
function(kav_skipped_test name)
  add_test(NAME ${name} COMMAND sh -c "echo \"skipped: $1\"; exit 77" sh "${KAV_NOT_RUN_WHY}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

# kav_exec_test(NAME name COMMAND ...): add_test for a test that executes programs of
# this configuration (under Wine for the Windows builds); a skipped test of the same
# name where this machine cannot run them.
function(kav_exec_test)
  if(NOT KAV_RUNS_HERE)
    kav_skipped_test(${ARGV1})
    return()
  endif()
  # Handed on one by one as written, empty ones included (${ARGN} would drop them).
  set(call "add_test(")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 0 ${last})
    string(APPEND call " [==[${ARGV${i}}]==]")
  endforeach()
  cmake_language(EVAL CODE "${call})")
endfunction()

# Warnings as errors for the project's own targets.
function(kav_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Werror)
  if(WIN32)
    # mingw's headers trip -Wpedantic in a few places
    target_compile_options(${target} PRIVATE -Wno-pedantic)
  endif()
endfunction()

# kav_plugin_library(NAME SOURCES...): a static library of the plug-in (its core,
# frame and feature folders), built as the plug-in is: no exceptions, no RTTI and,
# natively, nothing visible outside the shared object it ends up in.
function(kav_plugin_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
  if(NOT WIN32)
    target_compile_options(${name} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  endif()
  kav_warnings(${name})
endfunction()

# kav_windows_def(OUTVAR DEF [LIBRARY NAME] [RELEASE]): the module-definition file
# DEF as this configuration links with it, in OUTVAR. The .def files are written
# once, for Win32, where a __stdcall symbol carries its argument bytes ("Name@12");
# on Win64 there is one calling convention and no decoration, so the 64-bit build
# reads them with the decorations taken off (the ordinals stay). LIBRARY renames the
# module (IGOR.exe -> Igor64.exe). RELEASE drops the exports of the test controls
# (ordinals from 900 up), which only the project's own tests call.
function(kav_windows_def outvar def)
  cmake_parse_arguments(D "RELEASE" "LIBRARY" "" ${ARGN})
  get_filename_component(def ${def} ABSOLUTE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT D_LIBRARY AND NOT D_RELEASE)
    set(${outvar} ${def} PARENT_SCOPE)
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(STRINGS ${def} lines)
  set(text "")
  foreach(line IN LISTS lines)
    if(D_LIBRARY AND line MATCHES "^LIBRARY ")
      set(line "LIBRARY ${D_LIBRARY}")
    endif()
    if(D_RELEASE AND line MATCHES " @9[0-9][0-9]( |$)")
      continue()
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      string(REGEX REPLACE "^( +[A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" line "${line}")
    endif()
    string(APPEND text "${line}\n")
  endforeach()
  get_filename_component(name ${def} NAME_WE)
  if(D_RELEASE)
    string(APPEND name "-release")
  endif()
  set(out ${CMAKE_BINARY_DIR}/defs/${name}.def)
  set(old "")
  if(EXISTS ${out})
    file(READ ${out} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${out} "${text}")
  endif()
  set(${outvar} ${out} PARENT_SCOPE)
endfunction()

# kav_import_library(NAME DEF [LIBRARY MODULE]): on Windows, an interface target
# that links the import library dlltool makes from the module-definition file DEF
# (imports by ordinal or by name, as DEF says; read for this configuration by
# kav_windows_def), made before anything that links NAME is linked.
function(kav_import_library name def)
  kav_windows_def(def ${def} ${ARGN})
  set(implib ${CMAKE_BINARY_DIR}/lib/lib${name}.a)
  add_custom_command(OUTPUT ${implib} COMMAND ${CMAKE_DLLTOOL} -d ${def} -l ${implib} DEPENDS ${def})
  add_custom_target(${name}_implib DEPENDS ${implib})
  add_library(${name} INTERFACE)
  add_dependencies(${name} ${name}_implib)
  target_link_libraries(${name} INTERFACE ${implib})
endfunction()

# GoogleTest from Debian's source package, built with this configuration's
# compiler (so the same tests run natively and under Wine).
macro(kav_add_googletest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
endmacro()

# kav_test(NAME SOURCES... [LIBS ...]): a GoogleTest executable registered with CTest.
# Tests find the shared data through KAV_SHARED_DIR (a Windows path under Wine).
function(kav_test name)
  cmake_parse_arguments(T "" "WORKING_DIRECTORY" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gtest_main)
  kav_warnings(${name})
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  if(NOT KAV_RUNS_HERE)
    # Its tests are listed by running it: here it is one skipped test.
    kav_skipped_test(${name})
    return()
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${T_WORKING_DIRECTORY}
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "KAV_SHARED_DIR=${KAV_SHARED_DIR}" LABELS "${KAV_TEST_TIER}")
endfunction()

# kav_test_tier(plugin|standins|hostile): the tier of every test of the calling folder,
# as a CTest label, so that `ctest -L plugin` runs the plug-in's own tests, `ctest -L
# standins` those of the stand-ins (ABF library, host) and the tools, and `ctest -L
# hostile` the sweep of hostile inputs through the whole plug-in.
# kav_test and kav_host_test label what they discover; the tests the folder adds
# with add_test are labelled when the folder is done (unless labelled already: a
# kav_host_test of another TIER).
macro(kav_test_tier tier)
  if(NOT "${tier}" MATCHES "^(plugin|standins|hostile)$")
    message(FATAL_ERROR "kav_test_tier: unknown tier ${tier}")
  endif()
  set(KAV_TEST_TIER ${tier})
  cmake_language(DEFER CALL kav_label_folder_tests ${tier})
endmacro()
function(kav_label_folder_tests tier)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    get_test_property(${test} LABELS labels)
    if(NOT labels)
      set_tests_properties(${test} PROPERTIES LABELS ${tier})
    endif()
  endforeach()
endfunction()

# kav_header_only_library(TARGET NAME...): header-only libraries from Debian's
# packages (/usr/include/NAME: CLI, fmt, nlohmann), usable by both builds. Only
# their own folders go on the include path, through links in the build tree: in
# the mingw build /usr/include as a whole would put the system's C headers before
# mingw's.
function(kav_header_only_library target)
  set(dir ${CMAKE_BINARY_DIR}/third-party-include)
  file(MAKE_DIRECTORY ${dir})
  foreach(lib ${ARGN})
    if(NOT EXISTS /usr/include/${lib})
      message(FATAL_ERROR "/usr/include/${lib} not found: run scripts/install-deps.sh")
    endif()
    file(CREATE_LINK /usr/include/${lib} ${dir}/${lib} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()

# kav_link_cli11(TARGET): CLI11 for TARGET's command line, the one option parser of
# the programs (sorvan, abfgen, the stand-in host), from Debian's libcli11-dev:
# header-only, the same in every build.
function(kav_link_cli11 target)
  if(NOT TARGET kav_cli11)
    kav_header_only_library(kav_cli11 CLI)
  endif()
  target_link_libraries(${target} PRIVATE kav_cli11)
endfunction()
