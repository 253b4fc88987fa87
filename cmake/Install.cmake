# The desktop install: the program, its help pages, the menu entry and the
# icon in the usual places under the prefix; and a Debian package of the same.
include(GNUInstallDirs)

set(FERROVANE_ICON_SIZES 16 22 24 32 48 64 128 256)

# The help pages beside the built program, so a build finds its help too.
add_custom_target(ferrovane_help ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/help ${PROJECT_BINARY_DIR}/help
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/ferrovane.svg ${PROJECT_BINARY_DIR}/help/ferrovane.svg
  COMMENT "Copying the help pages into the build folder")
add_dependencies(ferrovane ferrovane_help)

# PNG icons drawn by the program's own icon code.
add_executable(ferrovane_icons ${PROJECT_SOURCE_DIR}/tools/make_icons.cpp ${PROJECT_SOURCE_DIR}/src/log/ProgramIcon.cpp)
target_include_directories(ferrovane_icons PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(ferrovane_icons PRIVATE Qt6::Gui)
set(ferrovane_pngs)
foreach(size IN LISTS FERROVANE_ICON_SIZES)
  list(APPEND ferrovane_pngs ${PROJECT_BINARY_DIR}/icons/${size}/ferrovane.png)
endforeach()
add_custom_command(OUTPUT ${ferrovane_pngs}
  COMMAND ferrovane_icons ${PROJECT_BINARY_DIR}/icons
  DEPENDS ferrovane_icons
  COMMENT "Drawing the PNG icons")
add_custom_target(ferrovane_png_icons ALL DEPENDS ${ferrovane_pngs})

install(TARGETS ferrovane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/ferrovane/help)
install(FILES ${PROJECT_SOURCE_DIR}/data/ferrovane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/ferrovane/help)
install(FILES ${PROJECT_SOURCE_DIR}/data/ferrovane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/ferrovane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS FERROVANE_ICON_SIZES)
  install(FILES ${PROJECT_BINARY_DIR}/icons/${size}/ferrovane.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(CPACK_PACKAGE_NAME ferrovane)
set(CPACK_PACKAGE_VENDOR Quillmoor)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Copies photos, videos and sound from cameras, phones and memory cards")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmoor <ferrovane@quillmoor.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)  # the exception report names functions and lines from the debug information
include(CPack)
