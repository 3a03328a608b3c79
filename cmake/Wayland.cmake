# The Wayland protocols the program speaks on connections of its own (the compositor's idle
# notifications, activation tokens), generated from their XML by wayland-scanner, and the
# scripted compositor the tests start.
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_check_modules(WAYLAND_SERVER REQUIRED IMPORTED_TARGET wayland-server)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
enable_language(C)
# KDE's idle protocol, as Debian's plasma-wayland-protocols ships it.
find_file(KDE_IDLE_XML idle.xml PATHS /usr/share/plasma-wayland-protocols REQUIRED NO_DEFAULT_PATH)

set(wl_gen ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${wl_gen})
set(wl_xml
  ext-idle-notify-v1=${WAYLAND_PROTOCOLS_DIR}/staging/ext-idle-notify/ext-idle-notify-v1.xml
  xdg-activation-v1=${WAYLAND_PROTOCOLS_DIR}/staging/xdg-activation/xdg-activation-v1.xml
  kde-idle=${KDE_IDLE_XML})
set(wl_client_sources "")
set(wl_server_sources "")
foreach(entry ${wl_xml})
  string(REPLACE "=" ";" pair ${entry})
  list(GET pair 0 name)
  list(GET pair 1 xml)
  add_custom_command(OUTPUT ${wl_gen}/${name}-client-protocol.h ${wl_gen}/${name}-server-protocol.h ${wl_gen}/${name}-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${wl_gen}/${name}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} server-header ${xml} ${wl_gen}/${name}-server-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${wl_gen}/${name}-protocol.c
    DEPENDS ${xml})
  list(APPEND wl_client_sources ${wl_gen}/${name}-client-protocol.h ${wl_gen}/${name}-protocol.c)
  list(APPEND wl_server_sources ${wl_gen}/${name}-server-protocol.h ${wl_gen}/${name}-protocol.c)
endforeach()
target_sources(tessaly_core PRIVATE ${wl_client_sources})
# Only the file that speaks the protocols sees their headers, as a system folder: the
# generated inline calls cast in C's way.
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/input/Wayland.cpp PROPERTIES COMPILE_OPTIONS "-isystem;${wl_gen}")
target_link_libraries(tessaly_core PUBLIC PkgConfig::WAYLAND_CLIENT)

if(BUILD_TESTING)
  # The scripted compositor of the tests.
  add_executable(wayland_test_server ${CMAKE_SOURCE_DIR}/tests/wayland_server/wayland_test_server.c ${wl_server_sources})
  target_include_directories(wayland_test_server PRIVATE ${wl_gen})
  target_link_libraries(wayland_test_server PRIVATE PkgConfig::WAYLAND_SERVER)
endif()
