# Win32 display settings and the raw Win32 window.
enable_language(RC)
if(MINGW)
  # Self-contained executables: the C++ runtime goes inside each of them.
  add_link_options(-static)
  # Only what is used of the static runtime stays in the executable.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections)
endif()

add_library(tavrimo_win32 STATIC display_settings/backends/win32_display_settings.cpp)
target_include_directories(tavrimo_win32 PUBLIC display_settings display_settings/backends)
target_link_libraries(tavrimo_win32 PRIVATE tavrimo_warnings)

add_library(tavrimo_win32_form STATIC main_window/win32_main_form.cpp)
target_include_directories(tavrimo_win32_form PUBLIC resources main_window)
target_compile_definitions(tavrimo_win32_form PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(tavrimo_win32_form PUBLIC tavrimo_core user32 gdi32 comctl32
                      PRIVATE tavrimo_warnings)

add_executable(tavrimo WIN32 main_window/win32_main.cpp resources/tavrimo.rc)
target_link_libraries(tavrimo PRIVATE tavrimo_win32_form tavrimo_win32 tavrimo_version
                      tavrimo_warnings)
if(MINGW)
  target_sources(tavrimo PRIVATE main_window/win32_terminate_gnu.cpp)
  target_link_options(tavrimo PRIVATE -municode -s)
  set_source_files_properties(resources/tavrimo.rc PROPERTIES COMPILE_FLAGS "-c 65001")
endif()
if(MSVC)
  # The manifest comes from the resource script.
  target_link_options(tavrimo PRIVATE /MANIFEST:NO)
  set_property(TARGET tavrimo PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
endif()
install(TARGETS tavrimo RUNTIME DESTINATION .)
configure_file(resources/readme-windows.txt.in generated/readme.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/generated/readme.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tavrimo)
set(CPACK_PACKAGE_VERSION ${TAVRIMO_VERSION})
set(CPACK_PACKAGE_FILE_NAME tavrimo-${TAVRIMO_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
