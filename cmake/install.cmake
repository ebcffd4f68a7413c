# What `cmake --install` and `cpack -G DEB` lay out: the host in bin/, and in
# share/quibex/ a readable copy of the page library (the host carries its own) and
# the example with its bundle script, which finds the host in ../../../../bin.
# The web-process extension lives inside the host and is written out at run time,
# so there is no library to install.
include(GNUInstallDirs)
install(TARGETS quibex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The optional services' modules, where the host looks for them from bin/: a fixed
# lib/quibex/modules, not the multiarch library folder, so the path between the two
# is the same under every prefix.
install(TARGETS ${QUIBEX_MODULES} LIBRARY DESTINATION lib/quibex/modules)
install(FILES core/js/quib_client.js DESTINATION ${CMAKE_INSTALL_DATADIR}/quibex)
install(PROGRAMS examples/hello/make-bundle.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/quibex/examples/hello)
install(FILES examples/hello/Hello.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/quibex/examples/hello)
install(DIRECTORY examples/hello/backend examples/hello/frontend
  DESTINATION ${CMAKE_INSTALL_DATADIR}/quibex/examples/hello)

set(CPACK_PACKAGE_NAME quibex)
set(CPACK_PACKAGE_VENDOR quibex)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "native Linux host for applications made of web pages and a backend")
set(CPACK_PACKAGE_DESCRIPTION "quibex shows an application's pages in native windows with
embedded web views, carries the pages' calls to the application's backend
program over a Unix-domain socket, and carries out the backend's commands
that need the desktop.")
set(QUIBEX_DEB_MAINTAINER "quibex maintainers <maintainers@quibex.invalid>" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUIBEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# What the host loads by name at run time, which no library link shows: the
# GStreamer elements of screen recording (appsrc and videoconvert, x264enc, mp4mux)
# and tesseract's English data.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, tesseract-ocr-eng")
# Services and programs the host talks to when there, and does without otherwise.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gnome-keyring, tracker, libcanberra-pulse, sound-theme-freedesktop, pulseaudio | pipewire-pulse, xdg-utils")
# The example's backend and its bundle's launcher run node.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS nodejs)
# The libraries the host links, by their Debian 12 package names. cpack declares
# them only where dpkg-shlibdeps (dpkg-dev) cannot derive them from the binary
# (cmake/cpack-options.cmake); scripts/check-install.sh compares the two.
set(CPACK_QUIBEX_LIBRARY_DEPENDS "libc6, libstdc++6, libgcc-s1, libglib2.0-0, libgtk-3-0, \
libwebkit2gtk-4.1-0, libjavascriptcoregtk-4.1-0, libsoup-3.0-0, libx11-6, libxext6, libxfixes3, \
libxrandr2, libxss1, libxtst6, libplist3, libdbusmenu-glib4, libcairo2, libgdk-pixbuf-2.0-0, \
libgstreamer1.0-0, libgstreamer-plugins-base1.0-0, libtesseract5, liblept5, libpoppler-glib8, \
libsecret-1-0, libespeak-ng1, libcanberra0, libtracker-sparql-3.0-0, libcurl4, libpulse0")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-options.cmake)
include(CPack)
