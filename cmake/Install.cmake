# What `cmake --install` puts in place and what `cpack -G DEB` packs: the program, its menu
# entry, icon, AppStream metadata, manual pages and the font-name mapping.
include(GNUInstallDirs)

# The icon files are drawn by the same code as the window icon, at build time.
add_executable(make_icons ${CMAKE_SOURCE_DIR}/data/make_icons.cpp)
target_link_libraries(make_icons PRIVATE tessaly_core Qt6::Svg)
set(TESSALY_ICON_SIZES 16 22 24 32 48 64 128 256)
set(icon_dir ${CMAKE_BINARY_DIR}/icons)
set(icon_files ${icon_dir}/tessaly.svg)
foreach(size ${TESSALY_ICON_SIZES})
  list(APPEND icon_files ${icon_dir}/tessaly-${size}.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}
  # A sanitizer build's leak report of the GUI libraries must not fail the build.
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:make_icons> ${icon_dir}
  DEPENDS make_icons
  COMMENT "Drawing the icon files")
add_custom_target(tessaly_icons ALL DEPENDS ${icon_files})

install(TARGETS tessaly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/tessaly.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/jp.tessaly.tessaly.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${icon_dir}/tessaly.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${TESSALY_ICON_SIZES})
  install(FILES ${icon_dir}/tessaly-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tessaly.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/man/tessaly.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/data/man/ja/tessaly.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
# The mapping lives with the other available configurations; the link in fonts/conf.d
# switches it on for the whole system (/etc for a /usr prefix, as Debian keeps it).
set(TESSALY_FONTCONF 65-tessaly-ms-fonts.conf)
install(FILES ${CMAKE_SOURCE_DIR}/data/${TESSALY_FONTCONF} DESTINATION ${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail)
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(etc /etc)
  else()
    set(etc \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}\")
  endif()
  set(link \"\$ENV{DESTDIR}\${etc}/fonts/conf.d/${TESSALY_FONTCONF}\")
  message(STATUS \"Installing: \${link}\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${etc}/fonts/conf.d\")
  file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/fontconfig/conf.avail/${TESSALY_FONTCONF}\"
       \"\${link}\" SYMBOLIC)
")

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessaly developers <tessaly@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "media finder and player with a Japanese user interface")
set(CPACK_PACKAGE_DESCRIPTION "Tessaly finds media files on the fixed disks and keeps the result lists as
text files, plays and shows what it found (continuous play, picture viewer
with printing, external programs by extension), and downloads songs from its
FTP music site while it plays them. The user interface is in Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build; the package carries the stripped program.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the program loads at run time besides its libraries: GStreamer's plugin sets and
# outputs, the Qt platform plugins, the SVG library with its plugins, the fonts its windows name, the General MIDI sound
# font, the metafile fonts and Qt's own translations.
set(TESSALY_RUNTIME_DEPENDS
  "gstreamer1.0-plugins-base"
  "gstreamer1.0-plugins-good"
  "gstreamer1.0-plugins-bad"
  "gstreamer1.0-libav"
  "gstreamer1.0-x"
  "gstreamer1.0-alsa | gstreamer1.0-pulseaudio"
  "timgm6mb-soundfont | fluid-soundfont-gm"
  "fonts-ipafont-mincho"
  "fonts-ipafont-gothic"
  "fonts-urw-base35"
  "fontconfig"
  "qt6-qpa-plugins"
  "libqt6svg6"
  "qt6-translations-l10n")
list(JOIN TESSALY_RUNTIME_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice, wine")
include(CPack)
