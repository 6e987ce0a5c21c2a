# What the packages hold beside the programs, and how CPack makes them: a
# Debian package on Linux (cpack -G DEB), a zip on Windows (cpack -G ZIP).
# scripts/package.sh makes both.
if(WIN32)
  # The zip is flat: the programs, the example settings and the READMEs at
  # its top, the schema scripts in schema\.
  install(FILES packaging/tremcvt.ini.example DESTINATION . RENAME tremcvt.ini)
  install(FILES packaging/README-Windows.txt README.md DESTINATION .)
  install(DIRECTORY schema/ DESTINATION schema)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "tremcvt-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(FILES packaging/tremcvt.ini.example DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples RENAME tremcvt.ini)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tremcvt/schema)
  file(GLOB tremcvt_man_pages ${PROJECT_SOURCE_DIR}/packaging/man/*.1)
  install(FILES ${tremcvt_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The service template of tremcvt_batch --follow, one instance per station.
  install(FILES "packaging/tremcvt-follow@.service" DESTINATION /lib/systemd/system)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # Dependencies on Debian's libraries are found from the programs
  # themselves; the ODBC drivers are the operator's choice.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc | odbc-postgresql")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sqlite3, postgresql-client")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
set(CPACK_PACKAGE_NAME tremcvt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tremcvt maintainers <tremcvt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "WIN seismic waveform files into a catalogued station archive")
set(CPACK_PACKAGE_DESCRIPTION
    "tremcvt converts continuous WIN recordings (one-second blocks, one file per minute) into a station archive of TRZ files catalogued over ODBC, into CSS 3.0 or into miniSEED day files of an SDS tree, and checks and repairs that archive.")
set(CPACK_STRIP_FILES ON)
include(CPack)
