# The manual page and the Debian package's own files, and CPack's settings
# for the .deb. scripts/package.sh drives it all; a plain cmake --install
# takes the runtime, the manual page and the documents.

# The manual page, made from the program's own help (Linux builds only: the
# program must run where it is built).
find_program(VARLOBOOKS_HELP2MAN help2man)
if(NOT CMAKE_CROSSCOMPILING AND VARLOBOOKS_HELP2MAN)
  set(man_page ${CMAKE_BINARY_DIR}/man/modeler.1)
  add_custom_command(OUTPUT ${man_page} ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${VARLOBOOKS_HELP2MAN} -DMODELER=$<TARGET_FILE:modeler>
            -DVERSION=${PROJECT_VERSION} -DINCLUDE=${CMAKE_CURRENT_LIST_DIR}/modeler.h2m
            -DOUTPUT=${man_page} -P ${CMAKE_CURRENT_LIST_DIR}/man_page.cmake
    DEPENDS modeler varlobooks ${CMAKE_CURRENT_LIST_DIR}/modeler.h2m
            ${CMAKE_CURRENT_LIST_DIR}/man_page.cmake
    COMMENT "Writing the manual page of modeler"
    VERBATIM)
  add_custom_target(modeler_man ALL DEPENDS ${man_page})
  install(FILES ${man_page} DESTINATION share/man/man1 COMPONENT man)
  # Debian wants it compressed.
  install(FILES ${man_page}.gz DESTINATION share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
elseif(NOT CMAKE_CROSSCOMPILING)
  message(STATUS "help2man not found: no manual page for modeler (scripts/deps.sh installs it)")
endif()

if(WIN32)
  return()
endif()

# The Debian package's documents: its copyright (our licence and every
# notice) and a changelog in Debian's form, dated by SOURCE_DATE_EPOCH when
# set (scripts/package.sh sets it from the commit) so that the package
# comes out the same each time.
set(debian_docs ${CMAKE_BINARY_DIR}/debian-docs)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence_text)
file(READ ${PROJECT_SOURCE_DIR}/THIRD_PARTY_NOTICES notices_text)
file(WRITE ${debian_docs}/copyright
  "varlobooks ${PROJECT_VERSION}\n\n${licence_text}\n\n${notices_text}")
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(VARLOBOOKS_MAINTAINER "varlobooks developers <varlobooks@users.noreply.invalid>")
file(WRITE ${debian_docs}/changelog
  "varlobooks (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}: see /usr/share/doc/varlobooks/CHANGELOG.md.gz.\n\n"
  " -- ${VARLOBOOKS_MAINTAINER}  ${changelog_date}\n")
add_custom_command(OUTPUT ${debian_docs}/changelog.gz ${debian_docs}/CHANGELOG.md.gz
  COMMAND gzip -9nc ${debian_docs}/changelog > ${debian_docs}/changelog.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG.md > ${debian_docs}/CHANGELOG.md.gz
  DEPENDS ${debian_docs}/changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
add_custom_target(varlobooks_debian_docs ALL
  DEPENDS ${debian_docs}/changelog.gz ${debian_docs}/CHANGELOG.md.gz)
install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.gz ${debian_docs}/CHANGELOG.md.gz
  ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION share/doc/varlobooks COMPONENT debian EXCLUDE_FROM_ALL)

# The .deb: one package of the runtime and the Debian files, under /usr,
# its dependencies read from the binaries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME varlobooks)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VARLOBOOKS_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fills a box with a row of random, UV-mapped books")
set(CPACK_PACKAGE_DESCRIPTION
  "varlobooks is a plug-in tool for a 3D modeller that fills a box with a row\n"
  "of random books, as on a shelf: hardcover and softcover books, each one\n"
  "closed shell with its own cover surface, UV-mapped, with random cover\n"
  "images from a folder. The same box, parameters and seed always give the\n"
  "same geometry.\n"
  "\n"
  "This package holds the module and modeler, a host that loads the module\n"
  "as the modeller does, drives the tool from a session file, a one-line\n"
  "fill or a web page, and writes glTF 2.0, Wavefront OBJ and JSON files;\n"
  "the host library it runs on, with its C header; and the varlobooks\n"
  "Python package, which drives the tool from Python through that library.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL runtime debian)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The Python package in /usr/lib/python3/dist-packages runs in Debian's
# Python (the rest of the dependencies come from the binaries); NumPy gives
# it arrays of its own.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.9)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-numpy")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
