# The display-settings layers, each a static library free of Qt, and the
# registry that picks one of them at start; then the Qt window.
find_package(PkgConfig REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Widgets)

option(TAVRIMO_WITH_MUTTER "GNOME and Cinnamon: Mutter's and muffin's DisplayConfig over D-Bus" ON)
option(TAVRIMO_WITH_KDE "KDE Plasma: KWin's output-device and output-management protocols" ON)
option(TAVRIMO_WITH_WLR "wlroots compositors (sway and others): wlr-output-management" ON)
option(TAVRIMO_WITH_X11 "X11: RandR" ON)
option(TAVRIMO_WITH_XFCE "Xfce on X11: RandR, stored in xfconf for xfsettingsd" ON)
option(TAVRIMO_WITH_MATE "MATE on X11: RandR, stored in monitors.xml for mate-settings-daemon" ON)

# POSIX pieces the layers share: the XDG folders and the login entry's path.
add_library(tavrimo_xdg STATIC display_settings/xdg_paths.cpp)
target_include_directories(tavrimo_xdg PUBLIC display_settings)
target_link_libraries(tavrimo_xdg PRIVATE tavrimo_warnings)

set(backend_libraries)
set(backend_names)
# A bounded session-bus connection, for the layers that speak D-Bus through GIO.
if(TAVRIMO_WITH_MUTTER OR TAVRIMO_WITH_XFCE OR TAVRIMO_WITH_MATE)
  pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
  add_library(tavrimo_session_bus STATIC display_settings/backends/session_bus.cpp)
  target_include_directories(tavrimo_session_bus PUBLIC display_settings/backends)
  target_link_libraries(tavrimo_session_bus PUBLIC PkgConfig::GIO PRIVATE tavrimo_warnings)
endif()
if(TAVRIMO_WITH_MUTTER)
  add_library(tavrimo_mutter STATIC display_settings/backends/mutter_display_settings.cpp
              display_settings/backends/mutter_state.cpp display_settings/backends/mutter_layout.cpp)
  target_include_directories(tavrimo_mutter PUBLIC display_settings display_settings/backends)
  target_link_libraries(tavrimo_mutter PUBLIC PkgConfig::GIO tavrimo_xdg
                        PRIVATE tavrimo_session_bus tavrimo_warnings)
  list(APPEND backend_libraries tavrimo_mutter)
  # One layer, two services: Mutter's, then Cinnamon's muffin.
  list(APPEND backend_names Mutter Muffin)
endif()
if(TAVRIMO_WITH_KDE OR TAVRIMO_WITH_WLR)
  enable_language(C)  # wayland-scanner writes C
  pkg_check_modules(WAYLAND REQUIRED IMPORTED_TARGET wayland-client)
  pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
  if(NOT WAYLAND_SCANNER)
    message(FATAL_ERROR "wayland-scanner not found (Debian: libwayland-dev)")
  endif()
  add_library(tavrimo_wayland STATIC display_settings/backends/wayland_connection.cpp)
  target_include_directories(tavrimo_wayland PUBLIC display_settings display_settings/backends)
  target_link_libraries(tavrimo_wayland PUBLIC PkgConfig::WAYLAND PRIVATE tavrimo_warnings)
endif()

# Adds to target the code wayland-scanner makes from protocol file xml: the
# client header (or with SERVER, the server header) and the interface tables.
function(tavrimo_wayland_protocol target xml)
  cmake_parse_arguments(P "SERVER" "" "" ${ARGN})
  get_filename_component(base ${xml} NAME_WE)
  set(dir ${CMAKE_BINARY_DIR}/protocols)
  set(side client)
  if(P_SERVER)
    set(side server)
  endif()
  set(header ${dir}/${base}-${side}-protocol.h)
  set(code ${dir}/${base}-protocol.c)
  add_custom_command(OUTPUT ${header}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${WAYLAND_SCANNER} ${side}-header ${xml} ${header}
    DEPENDS ${xml} VERBATIM)
  if(NOT TARGET tavrimo_protocol_${base})
    add_custom_command(OUTPUT ${code}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
      DEPENDS ${xml} VERBATIM)
    # The interface tables once, for client and server code alike.
    add_library(tavrimo_protocol_${base} STATIC ${code})
    target_link_libraries(tavrimo_protocol_${base} PUBLIC PkgConfig::WAYLAND)
  endif()
  target_sources(${target} PRIVATE ${header})
  target_include_directories(${target} PUBLIC ${dir})
  target_link_libraries(${target} PUBLIC tavrimo_protocol_${base})
endfunction()

if(TAVRIMO_WITH_KDE)
  # The output-device protocol at the version Plasma 6.7 speaks is ours;
  # management and order as Debian's plasma-wayland-protocols has them.
  find_package(PlasmaWaylandProtocols REQUIRED)
  set(kde_protocol_files
    ${CMAKE_SOURCE_DIR}/display_settings/backends/protocols/kde-output-device-v2.xml
    ${PLASMA_WAYLAND_PROTOCOLS_DIR}/kde-output-management-v2.xml
    ${PLASMA_WAYLAND_PROTOCOLS_DIR}/kde-output-order-v1.xml)
  add_library(tavrimo_kde STATIC display_settings/backends/kde_display_settings.cpp)
  foreach(xml ${kde_protocol_files})
    tavrimo_wayland_protocol(tavrimo_kde ${xml})
  endforeach()
  target_include_directories(tavrimo_kde PUBLIC display_settings display_settings/backends)
  target_link_libraries(tavrimo_kde PUBLIC tavrimo_wayland tavrimo_xdg PRIVATE tavrimo_warnings)
  list(APPEND backend_libraries tavrimo_kde)
  list(APPEND backend_names Kde)
endif()
set(wlr_protocol ${CMAKE_SOURCE_DIR}/display_settings/backends/protocols/wlr-output-management-unstable-v1.xml)
if(TAVRIMO_WITH_WLR)
  pkg_get_variable(wayland_protocols wayland-protocols pkgdatadir)
  if(NOT wayland_protocols)
    message(FATAL_ERROR "wayland-protocols not found (Debian: wayland-protocols)")
  endif()
  set(xdg_output_protocol ${wayland_protocols}/unstable/xdg-output/xdg-output-unstable-v1.xml)
  add_library(tavrimo_wlr STATIC display_settings/backends/wlr_display_settings.cpp
              display_settings/stores/wlr_sway_config.cpp
              display_settings/stores/wlr_kanshi_config.cpp)
  tavrimo_wayland_protocol(tavrimo_wlr ${wlr_protocol})
  tavrimo_wayland_protocol(tavrimo_wlr ${xdg_output_protocol})
  target_include_directories(tavrimo_wlr PUBLIC display_settings display_settings/backends display_settings/stores)
  # sway's IPC answers in JSON; the header-only library adds no run-time library.
  find_package(nlohmann_json 3 REQUIRED)
  target_link_libraries(tavrimo_wlr PUBLIC tavrimo_wayland tavrimo_xdg
                        PRIVATE nlohmann_json::nlohmann_json tavrimo_warnings)
  list(APPEND backend_libraries tavrimo_wlr)
  list(APPEND backend_names Wlr)
endif()
if(TAVRIMO_WITH_X11)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-randr)
  add_library(tavrimo_x11 STATIC)
  target_sources(tavrimo_x11 PRIVATE
    display_settings/backends/x11_display_settings.cpp
    display_settings/stores/x11_autostart.cpp)
  target_include_directories(tavrimo_x11 PUBLIC display_settings display_settings/backends
                             display_settings/stores)
  target_link_libraries(tavrimo_x11 PUBLIC PkgConfig::XCB tavrimo_xdg
                        PRIVATE tavrimo_version tavrimo_warnings)
  # The X11 desktops whose daemons keep a store of their own come before
  # plain RandR with its login entry.
  if(TAVRIMO_WITH_XFCE OR TAVRIMO_WITH_MATE)
    add_library(tavrimo_x11_desktop STATIC display_settings/backends/x11_desktop_session.cpp)
    target_link_libraries(tavrimo_x11_desktop PUBLIC tavrimo_session_bus PRIVATE tavrimo_warnings)
  endif()
  foreach(desktop xfce mate)
    string(TOUPPER ${desktop} option)
    if(TAVRIMO_WITH_${option})
      # The desktop's store, and the layer that registers RandR with it.
      add_library(tavrimo_${desktop} STATIC display_settings/stores/x11_${desktop}_store.cpp
                  display_settings/backends/x11_${desktop}_backend.cpp)
      target_link_libraries(tavrimo_${desktop} PUBLIC tavrimo_x11 tavrimo_x11_desktop
                            PRIVATE tavrimo_warnings)
      list(APPEND backend_libraries tavrimo_${desktop})
      string(SUBSTRING ${option} 0 1 initial)
      string(SUBSTRING ${desktop} 1 -1 rest)
      list(APPEND backend_names ${initial}${rest})
    endif()
  endforeach()
  list(APPEND backend_libraries tavrimo_x11)
  list(APPEND backend_names X11)
endif()
if(NOT backend_names)
  message(FATAL_ERROR "Tavrimo needs at least one display backend (TAVRIMO_WITH_*)")
endif()

# The registry's table, in order of preference, of the layers built above.
set(TAVRIMO_BACKEND_DECLARATIONS "")
set(TAVRIMO_BACKEND_ENTRIES "")
foreach(name IN LISTS backend_names)
  string(APPEND TAVRIMO_BACKEND_DECLARATIONS "extern const DisplayBackend k${name}Backend;\n")
  string(APPEND TAVRIMO_BACKEND_ENTRIES "k${name}Backend, ")
endforeach()
# The layers that speak D-Bus look for their services over one connection.
set(TAVRIMO_SHARED_LOOKUPS nullptr)
if(TARGET tavrimo_session_bus)
  string(APPEND TAVRIMO_BACKEND_DECLARATIONS "std::shared_ptr<void> ShareSessionBus();\n")
  set(TAVRIMO_SHARED_LOOKUPS "ShareSessionBus()")
endif()
configure_file(display_settings/backend_table.cpp.in backend_table.cpp @ONLY)
add_library(tavrimo_registry STATIC display_settings/backend_registry.cpp
            ${CMAKE_CURRENT_BINARY_DIR}/backend_table.cpp)
target_include_directories(tavrimo_registry PUBLIC display_settings)
target_link_libraries(tavrimo_registry PUBLIC ${backend_libraries} PRIVATE tavrimo_warnings)
if(TARGET tavrimo_session_bus)
  target_link_libraries(tavrimo_registry PRIVATE tavrimo_session_bus)
endif()

# fontconfig, which Qt loads anyway, to hand Qt only the window's fonts.
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
add_library(tavrimo_qt_form STATIC main_window/qt_main_form.cpp main_window/qt_application.cpp
            main_window/qt_fonts.cpp)
set_target_properties(tavrimo_qt_form PROPERTIES AUTOMOC ON)
target_link_libraries(tavrimo_qt_form PUBLIC tavrimo_core Qt6::Widgets PkgConfig::FONTCONFIG
                      PRIVATE tavrimo_warnings)
# The window's images, decoded when the program is built: read at start, they
# would have Qt list every image format plugin installed to find a reader.
add_executable(tavrimo_image_header tools/qt_image_header.cpp)
target_link_libraries(tavrimo_image_header PRIVATE Qt6::Gui tavrimo_warnings)
set(own_images ${CMAKE_BINARY_DIR}/generated/own_images.h)
add_custom_command(OUTPUT ${own_images}
  COMMAND tavrimo_image_header ${own_images}
          kLogo=${PROJECT_SOURCE_DIR}/resources/logo.bmp
          kIcon16=${PROJECT_SOURCE_DIR}/resources/tavrimo-16.png
          kIcon32=${PROJECT_SOURCE_DIR}/resources/tavrimo-32.png
  DEPENDS tavrimo_image_header resources/logo.bmp resources/tavrimo-16.png
          resources/tavrimo-32.png
  VERBATIM)
target_sources(tavrimo_qt_form PRIVATE ${own_images})
target_include_directories(tavrimo_qt_form PRIVATE ${CMAKE_BINARY_DIR}/generated)

add_executable(tavrimo main_window/qt_main.cpp)
target_link_libraries(tavrimo PRIVATE tavrimo_qt_form tavrimo_registry tavrimo_version
                      tavrimo_warnings)
if(TARGET tavrimo_wayland)
  # To ask the compositor whether it draws title bars before Qt starts.
  target_link_libraries(tavrimo PRIVATE tavrimo_wayland)
  target_compile_definitions(tavrimo PRIVATE TAVRIMO_WITH_WAYLAND)
endif()

# For scripts/bench: the chosen layer's switch, timed in process.
add_executable(bench_layer EXCLUDE_FROM_ALL tools/bench/bench_layer.cpp)
target_link_libraries(bench_layer PRIVATE tavrimo_registry tavrimo_warnings)

include(GNUInstallDirs)
install(TARGETS tavrimo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# As Debian's own packages ship binaries: without the compiler's notes.
install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
  --remove-section=.note \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tavrimo\"
  COMMAND_ERROR_IS_FATAL ANY)")
install(FILES resources/org.tavrimo.Tavrimo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(resources/org.tavrimo.Tavrimo.metainfo.xml.in
               generated/org.tavrimo.Tavrimo.metainfo.xml @ONLY)
configure_file(resources/tavrimo.1.in generated/tavrimo.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/org.tavrimo.Tavrimo.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 256)
  install(FILES resources/tavrimo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tavrimo.png)
endforeach()

# Debian policy files for the package: changelog and manual page, compressed.
foreach(doc ${CMAKE_SOURCE_DIR}/resources/debian/changelog ${CMAKE_BINARY_DIR}/generated/tavrimo.1)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
    COMMAND gzip -9n -c ${doc} > ${CMAKE_BINARY_DIR}/${name}.gz
    DEPENDS ${doc} VERBATIM)
  list(APPEND compressed_docs ${CMAKE_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})
install(FILES ${CMAKE_BINARY_DIR}/tavrimo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz resources/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrimo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrimo)
set(CPACK_PACKAGE_VERSION ${TAVRIMO_VERSION})
set(CPACK_PACKAGE_CONTACT "Tavrimo developers <developers@tavrimo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list the display modes and switch to one")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tavrimo lists every mode of the current display (width, height and colour
depth) in a small window with a Traditional Chinese interface. Select a line
and press OK: the display switches to that mode and keeps it at the next
login. On GNOME it asks Mutter, on Cinnamon muffin and on KDE Plasma KWin,
which store the mode themselves; on Xfce and MATE it keeps the mode in the
desktop's own display settings; on sway and other wlroots compositors it
uses their output management, and sway's configuration where it includes
the program's file; on other X11 sessions it uses RandR and an autostart
entry.")
# Files of the project's own where CPack would name its templates: a release
# with another CMake packs this build too.
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_WELCOME ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/resources/debian/copyright)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Fonts for the window and the list, xrandr for the login entry, and Qt's
# Wayland platform for a session without an X server.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, fonts-unifont, x11-xserver-utils, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
