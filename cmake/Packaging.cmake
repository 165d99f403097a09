# The program as a Linux desktop program: its resources (icon, example
# recipe), what `cmake --install` puts where, and the Debian package that
# `cpack` builds from it (build/kavetra_<version>_<arch>.deb). The version
# comes from the newest entry of packaging/changelog (CMakeLists.txt).
include(GNUInstallDirs)

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)
set_target_properties(kvapp PROPERTIES AUTORCC ON)
target_sources(kvapp PRIVATE ${_pkg}/kavetra.qrc)

# Every time stamp of the package is the newest changelog entry's, so two
# builds of one commit give the same .deb (cpack reads it from its config).
execute_process(COMMAND dpkg-parsechangelog -l ${_pkg}/changelog -S Timestamp
                OUTPUT_VARIABLE KV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
set(ENV{SOURCE_DATE_EPOCH} ${KV_SOURCE_DATE_EPOCH})
string(TIMESTAMP KV_DATE "%Y-%m-%d" UTC)
file(WRITE ${_gen}/cpack-env.cmake "set(ENV{SOURCE_DATE_EPOCH} \"${KV_SOURCE_DATE_EPOCH}\")\n")
set(CPACK_PROJECT_CONFIG_FILE ${_gen}/cpack-env.cmake)

install(TARGETS kavetra kavetra-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_pkg}/kavetra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Double-click: .dip recipes and run records open in the program.
install(FILES ${_pkg}/kavetra-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kavetra.xml)
# What software centres list (AppStream).
set(KV_VERSION ${PROJECT_VERSION})
configure_file(${_pkg}/io.github.kavetra.Kavetra.metainfo.xml ${_gen}/io.github.kavetra.Kavetra.metainfo.xml @ONLY)
install(FILES ${_gen}/io.github.kavetra.Kavetra.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/kavetra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 64 128 256)
  install(FILES ${_pkg}/icons/kavetra-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kavetra.png)
endforeach()
# The machine description for every user of the PC, a conffile of the
# package (the working folder's own file comes first).
install(FILES ${_pkg}/KVHardware.ini DESTINATION /etc/kavetra)
file(WRITE ${_gen}/conffiles "/etc/kavetra/KVHardware.ini\n")

# Documentation as Debian wants it: compressed changelog and man pages
# (gzip -n: no time stamp, so the package builds the same twice).
set(_docs)
macro(kv_gzip src name)
  add_custom_command(OUTPUT ${_gen}/${name}.gz COMMAND gzip -9n -c ${src} > ${_gen}/${name}.gz
                     DEPENDS ${src} VERBATIM)
  list(APPEND _docs ${_gen}/${name}.gz)
endmacro()
set(KV_VERSION ${PROJECT_VERSION})
foreach(page kavetra.1 kavetra-sim.1)
  configure_file(${_pkg}/man/${page} ${_gen}/${page} @ONLY)
  kv_gzip(${_gen}/${page} ${page})
  install(FILES ${_gen}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
kv_gzip(${_pkg}/changelog changelog)
add_custom_target(kvdocs ALL DEPENDS ${_docs})
install(FILES ${_gen}/changelog.gz ${_pkg}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_pkg}/README.package.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.md)
# The program carries its own copy; this one is for reading and copying by hand.
install(FILES ${_pkg}/LastDefinitions.dip DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavetra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kavetra developers <kavetra@kavetra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator program of a three-axis dip-coating robot")
# The extended description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Drives a dip-coating robot with VERI stepper controllers on one
RS-232 line: recipes of positions, processes and tasks, unattended task
runs with a report log, a record of every run with plots to export.
Comes with kavetra-sim, the simulated controllers on a pseudo-terminal,
which the program starts by itself to try it without a robot.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_gen}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the binaries link (Qt 6 with Charts and Svg, libstdc++,
# libc, the remote page's WebSockets) come from
# dpkg-shlibdeps, each once; Qt's platform plugins are loaded at run time, so
# they are named here, as the font the window is drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
include(CPack)
