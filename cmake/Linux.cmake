# X11 display settings and the Qt window.
find_package(PkgConfig REQUIRED)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-randr)
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(tavrimo_x11 STATIC)
target_sources(tavrimo_x11 PRIVATE
  display_settings/x11_display_settings.cpp
  display_settings/x11_autostart.cpp)
target_include_directories(tavrimo_x11 PUBLIC display_settings)
target_link_libraries(tavrimo_x11 PUBLIC PkgConfig::XCB PRIVATE tavrimo_warnings)

add_library(tavrimo_qt_form STATIC main_window/qt_main_form.cpp)
set_target_properties(tavrimo_qt_form PROPERTIES AUTOMOC ON)
target_link_libraries(tavrimo_qt_form PUBLIC tavrimo_core Qt6::Widgets PRIVATE tavrimo_warnings)
qt_add_resources(tavrimo_qt_form art PREFIX / BASE resources FILES
  resources/logo.bmp resources/tavrimo-16.png resources/tavrimo-32.png)

add_executable(tavrimo main_window/qt_main.cpp)
target_compile_definitions(tavrimo PRIVATE TAVRIMO_VERSION="${TAVRIMO_VERSION}")
target_link_libraries(tavrimo PRIVATE tavrimo_qt_form tavrimo_x11 tavrimo_warnings)

include(GNUInstallDirs)
install(TARGETS tavrimo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/tavrimo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/tavrimo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 48 256)
  install(FILES resources/tavrimo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tavrimo.png)
endforeach()
