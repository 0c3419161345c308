# What `cmake --install` puts in place (GNUInstallDirs; DESTDIR honoured),
# and the Debian package CPack builds from the same rules:
#
#   bin/tarnevos, bin/kelprint, bin/keldades   the programs
#   libexec/tarnevos/KELPRINT                  a link to bin/kelprint, where
#                                              tarnevos looks for the print
#                                              program without KELEXE
#   share/tarnevos/                            the installation templates
#                                              (templates/CMakeLists.txt)
#   share/man/man1, man5                       the manual pages (man/)
#
# The programs find libexec/tarnevos and share/tarnevos relative to their
# own folder, so a tree installed under a staging DESTDIR works as it is.

install(TARGETS tarnevos kelprint keldades
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(RELATIVE_PATH kelprint_from_libexec
     ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tarnevos
     ${CMAKE_INSTALL_FULL_BINDIR}/kelprint)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBEXECDIR}")
  set(print_program_dir "${CMAKE_INSTALL_LIBEXECDIR}/tarnevos")
else()
  set(print_program_dir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tarnevos")
endif()
install(CODE "
  set(dir \"\$ENV{DESTDIR}${print_program_dir}\")
  file(MAKE_DIRECTORY \"\${dir}\")
  file(REMOVE \"\${dir}/KELPRINT\")
  file(CREATE_LINK \"${kelprint_from_libexec}\" \"\${dir}/KELPRINT\" SYMBOLIC)
  message(STATUS \"Installing: \${dir}/KELPRINT -> ${kelprint_from_libexec}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${dir}/KELPRINT\")
")

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnevos)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TARNEVOS developers <tarnevos@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "settlement summaries of communities of owners (text console)")
set(CPACK_PACKAGE_DESCRIPTION
    "TARNEVOS prints the settlement summary of communities of owners up to a
cut-off date, on an 80x25 text console, in Catalan, Spanish, Galician and
Aranese: a preview on the terminal, PDF, text or the printer. With the
print program kelprint and the data tool keldades, which makes a new
installation (keldades new) from the templates in /usr/share/tarnevos.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The libraries the programs link (libc, libstdc++, SQLite, cairo) as
# dpkg-shlibdeps finds them; the font and the spooler's client are used
# when present.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups-client")
include(CPack)
