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

# The distribution's hardening for what users run (program and picture helper): the
# hardening flags dpkg-buildflags gives (fortified functions, stack protector, PIE, read-only
# relocations bound at start). Not in sanitizer and unoptimised builds, where fortifying
# clashes with the sanitizers or does nothing.
option(TESSALY_HARDEN "Build the program and its helper with the distribution's hardening flags" ON)
if(TESSALY_HARDEN AND NOT TESSALY_SANITIZE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  set(harden_compile -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  set(harden_link -Wl,-z,relro -Wl,-z,now)
  if(DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      set(harden_${kind} "")
      foreach(f ${flags})
        # Only the hardening: optimisation, debug information and warnings stay the build's.
        if(f MATCHES "^-D_FORTIFY_SOURCE|^-fstack-|^-fcf-protection|^-Wl,-z,")
          list(APPEND harden_${kind} ${f})
        endif()
      endforeach()
    endforeach()
    set(harden_compile ${harden_CPPFLAGS} ${harden_CXXFLAGS})
    set(harden_link ${harden_LDFLAGS})
  endif()
  target_compile_options(tessaly_core PRIVATE ${harden_compile})
  target_compile_options(tessaly PRIVATE ${harden_compile})
  target_compile_options(tessaly-picture PRIVATE ${harden_compile})
  set_target_properties(tessaly tessaly-picture PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_link_options(tessaly PRIVATE ${harden_link} -pie)
  target_link_options(tessaly-picture PRIVATE ${harden_link} -pie)
  # The media module is loaded into the program: the same hardening, as a shared object.
  target_compile_options(tessaly-media PRIVATE ${harden_compile})
  target_link_options(tessaly-media PRIVATE ${harden_link})
endif()

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "Tessaly developers <developers@tessaly.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "media finder and player with a Japanese user interface")
set(CPACK_PACKAGE_DESCRIPTION "Tessaly finds media files on the fixed disks and keeps the result lists as
text files, plays and shows what it found (continuous play, picture viewer
with printing, external programs by extension), and downloads songs from its
FTP music site while it plays them. The user interface is in Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build; the package carries the stripped program, with the
# sections Debian strips too, compressed manual pages, the Debian changelog and the copyright.
set(CPACK_STRIP_FILES ON)
set(CPACK_TESSALY_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/data/debian)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebianTree.cmake)
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
  "qt6-wayland"
  "libqt6svg6"
  "qt6-translations-l10n")
list(JOIN TESSALY_RUNTIME_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice, wine")
include(CPack)
