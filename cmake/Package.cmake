# What a release ships. Natively: the Debian package (CPack) with the ABF library,
# the command-line programs, their manual pages, the Python package `sorvan` for
# Debian's python3 and the user's guide; the target
# `release_files` builds everything it installs. The Win32 zip is put together by
# scripts/make-zip.sh from a release build of each configuration (./run release).

# version.txt spells the version once more in its string table (FileVersion and
# ProductVersion, "A, B, C, D"); both must say what its version line says.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/version.txt kav_version_strings REGEX "^(File|Product)Version *=")
string(REPLACE "." ", " kav_version_commas "${PROJECT_VERSION}")
foreach(line IN LISTS kav_version_strings)
  string(REGEX REPLACE "^[A-Za-z]+ *= *" "" value "${line}")
  if(NOT value STREQUAL kav_version_commas)
    message(FATAL_ERROR "resources/version.txt: \"${line}\" does not say version ${PROJECT_VERSION}")
  endif()
endforeach()

# The package is made from the plain native build (not the sanitizer or fuzz builds).
if(WIN32 OR KAV_SANITIZE OR KAV_FUZZ)
  return()
endif()

set(KAV_PACKAGE_NAME kav-sorvan)
set(kav_package_dir ${CMAKE_BINARY_DIR}/package)
set(kav_doc_dir share/doc/${KAV_PACKAGE_NAME})
set(kav_release_deps abffio abfgen)

# Programs in the package, each with a manual page made from its help by help2man
# (sorvan's help option shows every subcommand's help too): built with the
# programs, so that dist/native holds the pages as well.
find_program(KAV_HELP2MAN help2man REQUIRED)
set(kav_programs abfgen "write sample ABF recordings" --help)
if(TARGET sorvan)
  list(APPEND kav_programs sorvan "ABF recordings into Igor waves, CSV, NumPy arrays and pictures" --help-all)
  list(APPEND kav_release_deps sorvan)
endif()
set(kav_man_pages "")
while(kav_programs)
  list(POP_FRONT kav_programs program description help_option)
  set(page ${kav_package_dir}/man/${program}.1)
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kav_package_dir}/man
    COMMAND ${KAV_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --help-option=${help_option} --name=${description} --output=${page} $<TARGET_FILE:${program}>
    COMMAND gzip -9nkf ${page}
    DEPENDS ${program} VERBATIM)
  list(APPEND kav_man_pages ${page}.gz)
  install(TARGETS ${program} RUNTIME DESTINATION bin COMPONENT deb)
endwhile()
add_custom_target(man_pages ALL DEPENDS ${kav_man_pages})

# The user's guide as HTML (Python-Markdown, Debian's python3-markdown, run by the
# system's Python where that module lives).
find_program(KAV_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
set(kav_guide_html ${kav_package_dir}/doc/guide.html)
add_custom_command(OUTPUT ${kav_guide_html}
  COMMAND ${KAV_SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/scripts/guide-html.py ${CMAKE_SOURCE_DIR}/docs/guide.md
          ${PROJECT_VERSION} ${kav_guide_html}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/guide.md ${CMAKE_SOURCE_DIR}/scripts/guide-html.py
          ${CMAKE_SOURCE_DIR}/resources/version.txt
  VERBATIM)

# Debian wants the licence in /usr/share/doc/PACKAGE/copyright.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE kav_license)
file(WRITE ${kav_package_dir}/doc/copyright
  "kav_Sorvan: the ABF library libabffio, abfgen and sorvan.\n\nLicense: MIT\n\n${kav_license}")

add_custom_target(release_files DEPENDS ${kav_guide_html})
add_dependencies(release_files man_pages)
add_dependencies(release_files ${kav_release_deps})

# The library goes where the dynamic linker looks (CPack's maintainer scripts run
# ldconfig), so that programs linked to it find it from any folder.
install(TARGETS abffio LIBRARY DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE} COMPONENT deb)
install(FILES ${kav_man_pages} DESTINATION share/man/man1 COMPONENT deb)
# The Python package where Debian's python3 finds packages of the system's own.
if(TARGET _sorvan)
  add_dependencies(release_files _sorvan)
  set(kav_python_dest lib/python3/dist-packages/sorvan)
  install(TARGETS _sorvan LIBRARY DESTINATION ${kav_python_dest} COMPONENT deb)
  file(GLOB kav_python_sources ${CMAKE_SOURCE_DIR}/python/sorvan/*)
  install(FILES ${kav_python_sources} DESTINATION ${kav_python_dest} COMPONENT deb)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/deb/prerm)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/docs/guide.md ${kav_guide_html} ${kav_package_dir}/doc/copyright
        DESTINATION ${kav_doc_dir} COMPONENT deb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KAV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kav_Sorvan developers <kav-sorvan@users.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ABF electrophysiology recordings: reading library and command-line tools")
set(kav_description "libabffio reads ABF files, versions 1 and 2, behind the interface of the\n\
ABF file library. abfgen writes sample recordings, realistic and damaged ones, to\n\
try programs on.")
if(TARGET sorvan)
  string(APPEND kav_description " sorvan reads recordings from the command line.")
endif()
if(TARGET _sorvan)
  string(APPEND kav_description " The Python package sorvan (import sorvan) reads them\n\
into NumPy arrays.")
endif()
set(CPACK_PACKAGE_DESCRIPTION "${kav_description}\n\
The user's guide of the kav_Sorvan Igor Pro extension is in /usr/share/doc/kav-sorvan.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only what is installed for the package, nothing a dependency may install.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};deb;/")
include(CPack)
