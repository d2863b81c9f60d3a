# What a release ships: the install rule, the manual pages with the version
# put in, the users' README, the checks that keep the page and the README in step,
# and the Debian package and the Windows zip, both made by CPack from the
# install rule.
include(GNUInstallDirs)

set(VETRIK_MAINTAINER "the vetrik developers <vetrik-devel@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The Linux program is hardened as Debian hardens its own: fortified libc
# calls (which need the optimiser) and a global offset table made read-only
# at start. The sanitizer and fuzz builds are left as they are.
if(NOT WIN32 AND NOT VETRIK_SANITIZE AND NOT VETRIK_FUZZ)
  foreach(target IN ITEMS ${VETRIK_LAYERS} vetrik_batch_core vetrik vetrik-batch)
    target_compile_options(${target} PRIVATE
      "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endforeach()
  target_link_options(vetrik PRIVATE LINKER:-z,relro,-z,now)
  target_link_options(vetrik-batch PRIVATE LINKER:-z,relro,-z,now)
endif()

# The pages are written by hand; only their version comes from project().
set(VETRIK_PAGES vetrik vetrik-batch)
foreach(page IN LISTS VETRIK_PAGES)
  configure_file(doc/${page}.1.in ${page}.1 @ONLY)
endforeach()

# The README that ships is the users' part of README.md: the sections for
# those who have the sources (marked "<!-- sources only -->") are left out.
find_program(VETRIK_BASH bash REQUIRED)
set(VETRIK_USER_README ${CMAKE_CURRENT_BINARY_DIR}/README.md)
execute_process(
  COMMAND ${VETRIK_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/packaging/user_readme.sh
          ${CMAKE_CURRENT_SOURCE_DIR}/README.md
  OUTPUT_FILE ${VETRIK_USER_README} COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             README.md packaging/user_readme.sh)

if(WIN32)
  # The zip's one folder holds the two programs side by side (vetrik-batch
  # runs the vetrik.exe beside it), and the README and the licence as text
  # files with CR LF line ends.
  install(TARGETS vetrik vetrik-batch RUNTIME DESTINATION .)
  foreach(pair IN ITEMS "${VETRIK_USER_README}=README.txt"
                        "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE=LICENSE.txt")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target} "${text}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${target} DESTINATION .)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
else()
  # One folder for both programs: vetrik-batch runs the vetrik beside it.
  install(TARGETS vetrik vetrik-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vetrik.1
                ${CMAKE_CURRENT_BINARY_DIR}/vetrik-batch.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${VETRIK_USER_README} LICENSE
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The Debian copyright file, in the machine-readable format, with the licence
# text taken from LICENSE: blank lines become " .", every line is indented.
file(READ LICENSE licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${licence}")
set(VETRIK_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright [^\n]*\n\n" "" licence "${licence}")
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence "${licence}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: vetrik

Files: *
Copyright: ${VETRIK_COPYRIGHT}
License: Expat
 ${licence}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)

set(CPACK_PACKAGE_NAME vetrik)
set(CPACK_PACKAGE_VENDOR "the vetrik developers")
set(CPACK_PACKAGE_CONTACT "${VETRIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "unpack ZX Spectrum tape images into one file per stored file")
set(CPACK_PACKAGE_DESCRIPTION
"vetrik reads a ZX Spectrum tape image (TAP, TZX or PZX) or a recording of a
cassette (WAV or CSW) and writes every file stored on the tape into the
current directory, as the raw bytes of its data block, checking both
checksums of every file.

It is made for rescuing old tapes in bulk from scripts: every problem is
reported on the console and in the exit status, a file that holds data is
never overwritten, no output lands outside the current directory or behind
a symbolic link, and memory use does not grow with the image.

vetrik-batch runs vetrik on every image of a folder tree, several at once,
each into a folder of its own, and keeps a JSON Lines report of every
image's outcome and files; a rerun skips the images done already.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VETRIK_MAINTAINER}")
  # Adds what a Debian package holds beyond the install rule.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/deb_staging.cmake)
  set(CPACK_VETRIK_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(CPACK_VETRIK_COPYRIGHT ${CMAKE_CURRENT_BINARY_DIR}/copyright)
  set(CPACK_VETRIK_STRIP ${CMAKE_STRIP})
endif()
include(CPack)

# The vetrik page and the README must list the same messages; both pages must
# be clean for both man page formatters found.
if(VETRIK_TESTS AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME Manual.ListsTheMessagesOfTheReadme
           COMMAND ${VETRIK_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/tests/manual_matches_readme.sh
                   ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_BINARY_DIR}/vetrik.1)
  add_test(NAME Manual.AgreementCheckGivesTheRightVerdicts
           COMMAND ${VETRIK_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/tests/manual_matches_readme_test.sh)
  find_program(VETRIK_MANDOC mandoc)
  find_program(VETRIK_GROFF groff)
  foreach(page IN LISTS VETRIK_PAGES)
    # The vetrik page's tests keep their names of old.
    set(suffix "")
    if(NOT page STREQUAL "vetrik")
      set(suffix ".${page}")
    endif()
    if(VETRIK_MANDOC)
      add_test(NAME Manual.MandocLintIsSilent${suffix}
               COMMAND ${VETRIK_MANDOC} -Tlint ${CMAKE_CURRENT_BINARY_DIR}/${page}.1)
      set_tests_properties(Manual.MandocLintIsSilent${suffix} PROPERTIES
                           FAIL_REGULAR_EXPRESSION ".")
    endif()
    if(VETRIK_GROFF)
      add_test(NAME Manual.GroffWarnsOfNothing${suffix}
               COMMAND ${VETRIK_GROFF} -man -ww -z ${CMAKE_CURRENT_BINARY_DIR}/${page}.1)
      set_tests_properties(Manual.GroffWarnsOfNothing${suffix} PROPERTIES
                           FAIL_REGULAR_EXPRESSION ".")
    endif()
  endforeach()
endif()
