# The program as a Linux desktop program: its resources (icon, example
# recipe), what `cmake --install` puts where, and the Debian package that
# `cpack` builds from it (build/kavetra_<version>_<arch>.deb).
include(GNUInstallDirs)

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set_target_properties(kvapp PROPERTIES AUTORCC ON)
target_sources(kvapp PRIVATE ${_pkg}/kavetra.qrc)

install(TARGETS kavetra veri-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_pkg}/kavetra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/kavetra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${_pkg}/kavetra.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The program carries its own copy; this one is for reading and copying by hand.
install(FILES ${_pkg}/LastDefinitions.dip DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavetra)
set(CPACK_PACKAGE_VERSION ${KV_PROGRAM_VERSION})
set(CPACK_PACKAGE_CONTACT "Kavetra developers <kavetra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator program of a three-axis dip-coating robot")
set(CPACK_PACKAGE_DESCRIPTION "Drives a dip-coating robot with VERI stepper controllers on one RS-232 line: \
recipes of positions, processes and tasks, unattended task runs with a report log. \
Comes with veri-sim, the simulated controllers on a pseudo-terminal.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The libraries the binaries link (Qt 6, libstdc++, libc) come from
# dpkg-shlibdeps; Qt's platform plugins are loaded at run time, so they are
# named here, as the font the window is drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
include(CPack)
