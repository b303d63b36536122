# The programs' version, and their installation: `cmake --install` places both programs, the stand-in game
# server, the client's desktop entry and icons, and the OV server's systemd unit with its account and an
# example configuration; `cpack -G DEB` packs the same into a Debian package.
include(GNUInstallDirs)

target_compile_definitions(orvane-client PRIVATE OV_VERSION="${PROJECT_VERSION}")
target_compile_definitions(ovserver PRIVATE OV_VERSION="${PROJECT_VERSION}")

set(ov_packaging ${CMAKE_CURRENT_LIST_DIR})
install(TARGETS orvane-client ovserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS standin-server RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/orvane)
install(FILES ${ov_packaging}/orvane-client.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ov_packaging}/orvane-client.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${ov_packaging}/icons/${size}/orvane-client.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${ov_packaging}/ovserver.sysusers DESTINATION lib/sysusers.d RENAME ovserver.conf)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane-client)
install(FILES ovserver/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane-client RENAME ovserver.md)

# The unit and the configuration name installed paths, which only the install knows (its prefix may be
# given then, as cpack and `cmake --install --prefix` do): they are written at install time. An install
# into /usr keeps its configuration in /etc, as the system's own packages do.
install(CODE "
  set(ov_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(ov_prefix STREQUAL \"/usr\")
    set(ov_etc /etc/ovserver)
  else()
    set(ov_etc \"\${ov_prefix}/${CMAKE_INSTALL_SYSCONFDIR}/ovserver\")
  endif()
  set(OV_CONFIG_FILE \"\${ov_etc}/ovserver.conf\")
  set(OV_BINDIR \"\${ov_prefix}/${CMAKE_INSTALL_BINDIR}\")
  set(OV_LIBEXECDIR \"\${ov_prefix}/${CMAKE_INSTALL_LIBEXECDIR}/orvane\")
  configure_file(\"${ov_packaging}/ovserver.service.in\" \"${CMAKE_CURRENT_BINARY_DIR}/packaging/ovserver.service\" @ONLY)
  configure_file(\"${ov_packaging}/ovserver.conf.in\" \"${CMAKE_CURRENT_BINARY_DIR}/packaging/ovserver.conf\" @ONLY)
  file(INSTALL \"${CMAKE_CURRENT_BINARY_DIR}/packaging/ovserver.service\" DESTINATION \"\${ov_prefix}/lib/systemd/system\")
  file(INSTALL \"${CMAKE_CURRENT_BINARY_DIR}/packaging/ovserver.conf\" DESTINATION \"\${ov_etc}\")
")

# The Debian package: installed under /usr (configuration in /etc), its dependencies read from the programs.
set(CPACK_PACKAGE_NAME orvane-client)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane developers <orvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Remote administration of Quake game servers through OV servers")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop client that connects to up to 20 OV servers, shows their game servers in a tree and relays
their consoles, with ovserver, a reference OV server (and its systemd service), and a stand-in game server.")
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")
set(CPACK_STRIP_FILES ON)
# Qt's libraries only recommend the platform plugins, without which the client opens no window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
find_program(OV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(OV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4)")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${ov_packaging}/debian/postinst;${ov_packaging}/debian/prerm;${ov_packaging}/debian/postrm;${ov_packaging}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
