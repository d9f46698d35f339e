# kav_host_test(NAME SOURCES ... [LIBS ...] [FILES ...] [TIMEOUT S] [TIER T]): a GoogleTest executable
# that links the stand-in host's core, loads the real plug-in and calls its
# functions through the host exactly as the host would (kavhost::Host, host/host.h).
#
# Natively it is an ordinary test executable in bin/ that exports the host's
# memory functions to the plug-in. Under Wine the plug-in binds its imports to the
# module named IGOR.exe (Igor64.exe on Win64), so the test executable is named so
# and lives in a folder of its own (hosttests/NAME/) with the plug-in, ABFFIO.dll
# and the host's program-version files copied beside it; FILES lists more files to
# copy. TIER labels its tests with another tier than the folder's (kav_test_tier).
function(kav_host_test name)
  cmake_parse_arguments(T "" "TIMEOUT;TIER" "SOURCES;LIBS;FILES" ${ARGN})
  if(NOT T_TIER)
    set(T_TIER ${KAV_TEST_TIER})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE host_core ${T_LIBS} test_support GTest::gtest GTest::gtest_main)
  if(NOT WIN32)
    # The plug-in binds NewHandle etc. to the executable (on Win32 they are
    # exported with dllexport and the plug-in imports them from IGOR.exe).
    set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  endif()
  kav_warnings(${name})
  set(deps "")
  foreach(dep kav_Sorvan abffio ${KAV_HOST_VERSION_DLLS})
    if(TARGET ${dep})
      list(APPEND deps ${dep})
    endif()
  endforeach()
  if(WIN32)
    set(dir ${CMAKE_BINARY_DIR}/hosttests/${name})
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${KAV_HOST_PROGRAM} RUNTIME_OUTPUT_DIRECTORY ${dir})
    kav_host_version_rc(${KAV_HOST_OWN_VERSION} rc)
    target_sources(${name} PRIVATE ${rc})
    set(copies "")
    foreach(dep ${deps})
      list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dep}> ${dir}/)
    endforeach()
    foreach(f ${T_FILES})
      list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different ${f} ${dir}/)
    endforeach()
    add_custom_target(${name}_beside ${CMAKE_COMMAND} -E make_directory ${dir} ${copies}
                      DEPENDS ${deps} VERBATIM)
    add_dependencies(${name} ${name}_beside)
  elseif(deps)
    add_dependencies(${name} ${deps})
  endif()
  set(timeout "")
  if(T_TIMEOUT)
    set(timeout TIMEOUT ${T_TIMEOUT})
  endif()
  if(NOT KAV_RUNS_HERE)
    kav_skipped_test(${name})
    set_tests_properties(${name} PROPERTIES LABELS ${T_TIER})
    return()
  endif()
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin TEST_PREFIX "${name}."
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "KAV_SHARED_DIR=${KAV_SHARED_DIR}" LABELS "${T_TIER}" ${timeout})
endfunction()
