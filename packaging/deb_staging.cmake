# Run by CPack on the staged files before it packs them: for the Debian
# package, adds what Debian wants beyond the install rule. Other packages are
# left as the install rule made them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/vetrik")

# Manual pages and changelogs are compressed, storing no name and no time, so
# that the same sources give the same package.
foreach(page IN ITEMS vetrik vetrik-batch)
  execute_process(COMMAND gzip -9nf "${root}/share/man/man1/${page}.1"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(
  COMMAND bash "${CPACK_VETRIK_SOURCE_DIR}/packaging/debian_changelog.sh"
          "${CPACK_VETRIK_SOURCE_DIR}/CHANGELOG.md" "${CPACK_DEBIAN_PACKAGE_MAINTAINER}"
  OUTPUT_FILE "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9nf "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)

# The copyright file holds the licence, so LICENSE would say it twice.
file(COPY "${CPACK_VETRIK_COPYRIGHT}" DESTINATION "${doc}")
file(REMOVE "${doc}/LICENSE")

# Strip what Debian's own packages leave out too.
foreach(program IN ITEMS vetrik vetrik-batch)
  execute_process(COMMAND "${CPACK_VETRIK_STRIP}" --remove-section=.comment
                          --remove-section=.note "${root}/bin/${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
