# The programs' version, and their installation: `cmake --install` places both programs, the stand-in game
# server, the client's desktop entry and icons, and the OV server's systemd unit with its account and an
# example configuration; `cpack -G DEB` packs the same into two Debian packages, orvane-client (the desktop
# client) and orvane-ovserver (the OV server with the stand-in and the service).
include(GNUInstallDirs)

target_compile_definitions(orvane-client PRIVATE OV_VERSION="${PROJECT_VERSION}")
target_compile_definitions(ovserver PRIVATE OV_VERSION="${PROJECT_VERSION}")

set(ov_packaging ${CMAKE_CURRENT_LIST_DIR})
set(ov_packed ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(ov_client_doc ${CMAKE_INSTALL_DATADIR}/doc/orvane-client)
set(ov_server_doc ${CMAKE_INSTALL_DATADIR}/doc/orvane-ovserver)
set(CPACK_PACKAGE_CONTACT "Orvane developers <orvane@localhost>")

# Manual pages and the changelog go in compressed, as Debian keeps them.
set(ov_compressed)
foreach(source orvane-client.1 ovserver.1 debian/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${ov_packed}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${ov_packed}
                     COMMAND gzip -9nc ${ov_packaging}/${source} > ${ov_packed}/${name}.gz
                     DEPENDS ${ov_packaging}/${source} VERBATIM)
  list(APPEND ov_compressed ${ov_packed}/${name}.gz)
endforeach()
add_custom_target(ov_packaging_files ALL DEPENDS ${ov_compressed})
# Everything the install and the packages hold, and nothing else: cpack builds nothing itself, so
# `cmake --build build --target packaged` comes before it (the demo builds this target).
add_custom_target(packaged)
add_dependencies(packaged orvane-client ovserver standin-server ov_packaging_files)
configure_file(${ov_packaging}/debian/copyright.in ${ov_packed}/copyright @ONLY)

install(TARGETS orvane-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(FILES ${ov_packaging}/orvane-client.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT client)
install(FILES ${ov_packaging}/orvane-client.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT client)
foreach(size 48 256)
  install(FILES ${ov_packaging}/icons/${size}/orvane-client.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT client)
endforeach()
install(FILES ${ov_packed}/orvane-client.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
install(FILES ${ov_packaging}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME orvane-client COMPONENT client)
install(FILES README.md ${ov_packed}/copyright DESTINATION ${ov_client_doc} COMPONENT client)
install(FILES ${ov_packed}/changelog.gz DESTINATION ${ov_client_doc} COMPONENT client)

install(TARGETS ovserver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ovserver)
install(TARGETS standin-server RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/orvane COMPONENT ovserver)
install(FILES ${ov_packaging}/ovserver.sysusers DESTINATION lib/sysusers.d RENAME ovserver.conf
        COMPONENT ovserver)
install(FILES ${ov_packed}/ovserver.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ovserver)
install(FILES ${ov_packaging}/debian/ovserver/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME orvane-ovserver COMPONENT ovserver)
install(FILES ovserver/README.md ${ov_packed}/copyright ${ov_packed}/changelog.gz DESTINATION ${ov_server_doc}
        COMPONENT ovserver)

# The unit and the configuration name installed paths, which only the install knows (its prefix may be
# given then, as cpack and `cmake --install --prefix` do): they are written at install time. An install
# into /usr keeps its configuration in /etc and its unit in /lib/systemd/system, as the system's own
# packages do.
install(CODE "
  set(ov_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(ov_prefix STREQUAL \"/usr\")
    set(ov_etc /etc/ovserver)
    set(ov_units /lib/systemd/system)
  else()
    set(ov_etc \"\${ov_prefix}/${CMAKE_INSTALL_SYSCONFDIR}/ovserver\")
    set(ov_units \"\${ov_prefix}/lib/systemd/system\")
  endif()
  set(OV_CONFIG_FILE \"\${ov_etc}/ovserver.conf\")
  set(OV_BINDIR \"\${ov_prefix}/${CMAKE_INSTALL_BINDIR}\")
  set(OV_LIBEXECDIR \"\${ov_prefix}/${CMAKE_INSTALL_LIBEXECDIR}/orvane\")
  configure_file(\"${ov_packaging}/ovserver.service.in\" \"${ov_packed}/ovserver.service\" @ONLY)
  configure_file(\"${ov_packaging}/ovserver.conf.in\" \"${ov_packed}/ovserver.conf\" @ONLY)
  file(INSTALL \"${ov_packed}/ovserver.service\" DESTINATION \"\${ov_units}\")
  file(INSTALL \"${ov_packed}/ovserver.conf\" DESTINATION \"\${ov_etc}\")
" COMPONENT ovserver)

# The Debian packages: installed under /usr (configuration in /etc), their dependencies read from the
# programs.
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client ovserver)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
find_program(OV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(OV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(ov_client_libs "")
  set(ov_server_libs "")
else()
  set(ov_client_libs ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6dbus6 (>= 6.4)")
  set(ov_server_libs ", libqt6core6 (>= 6.4), libqt6network6 (>= 6.4)")
endif()

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME orvane-client)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "desktop client for the administration of Quake game servers
Orvane Client connects to up to 20 OV servers at once, shows every OV server
and the game servers it runs in a tree, relays their consoles and starts new
game servers of the types an OV server offers.
.
The OV server itself is in the package orvane-ovserver.")
# Qt's libraries only recommend the platform plugins, without which the client opens no window.
# QtKeychain loads libsecret when it runs, so no library scan finds it; a keyring daemon is the desktop's.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6keychain1, libsecret-1-0${ov_client_libs}")
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "hicolor-icon-theme, gnome-keyring | kwalletmanager")

set(CPACK_DEBIAN_OVSERVER_PACKAGE_NAME orvane-ovserver)
set(CPACK_DEBIAN_OVSERVER_DESCRIPTION "reference OV server for Orvane Client, as a system service
ovserver logs Orvane clients in, starts game servers of the types its
configuration names, relays their consoles both ways and tells every client
which game servers run. It comes with a systemd service on an account of its
own, and a stand-in game server that needs no game data.")
set(CPACK_DEBIAN_OVSERVER_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)${ov_server_libs}")
set(CPACK_DEBIAN_OVSERVER_PACKAGE_SUGGESTS "orvane-client, openarena-server")
set(CPACK_DEBIAN_OVSERVER_PACKAGE_CONTROL_EXTRA
    "${ov_packaging}/debian/ovserver/postinst;${ov_packaging}/debian/ovserver/prerm;${ov_packaging}/debian/ovserver/postrm;${ov_packaging}/debian/ovserver/conffiles")
include(CPack)
