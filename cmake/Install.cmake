# The desktop install: the program, its help pages, its manual page, the menu
# entry, the AppStream metadata and the icon in the usual places under the
# prefix; and a Debian package of the same, with its debug symbols apart.
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

# The manual page and the package's changelog, compressed as Debian wants
# them (no name or time inside, so every build gives the same bytes).
configure_file(${PROJECT_SOURCE_DIR}/data/ferrovane.1.in ${PROJECT_BINARY_DIR}/man/ferrovane.1 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/ferrovane.1.gz ${PROJECT_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${PROJECT_BINARY_DIR}/man/ferrovane.1 ${PROJECT_BINARY_DIR}/man/ferrovane.1.gz
  COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/data/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/man/ferrovane.1 ${PROJECT_SOURCE_DIR}/data/changelog
  COMMENT "Compressing the manual page and the changelog"
  VERBATIM)
add_custom_target(ferrovane_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/man/ferrovane.1.gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)

# The changelog and the AppStream release name the version being built.
file(STRINGS ${PROJECT_SOURCE_DIR}/data/changelog changelog_top LIMIT_COUNT 1)
file(READ ${PROJECT_SOURCE_DIR}/data/example.quillmoor.ferrovane.metainfo.xml metainfo)
string(FIND "${metainfo}" "<release version=\"${PROJECT_VERSION}\"" metainfo_release)
if(NOT changelog_top MATCHES "^ferrovane \\(${PROJECT_VERSION}\\) " OR metainfo_release EQUAL -1)
  message(FATAL_ERROR "data/changelog and the metainfo's newest release must name version ${PROJECT_VERSION}")
endif()

install(TARGETS ferrovane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/man/ferrovane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/data/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ferrovane)
install(FILES ${PROJECT_SOURCE_DIR}/data/example.quillmoor.ferrovane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
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
# The extended description, in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "Ferrovane copies photos, videos and sound recordings from digital cameras,
phones, media players and memory cards into a folder on the computer: into
folders named after the day each file was taken, or into the same folder
structure as on the device. It copies only what is not there yet, never
overwrites a different file, can compare every copy byte by byte, can delete
the originals from the device once their copies are verified and on disk, and
runs the user's own commands after each file or run. Every step goes to a
coloured activity log, saved as a rich-text file.

USB cameras (PTP), phones and media players (MTP) are reached through
libgphoto2; memory cards and any folder are read from the file system.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmoor <ferrovane@quillmoor.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-open shows the help and the log folder; the Wayland plugin lets the
# window run natively there; a font with Japanese, Chinese and Korean
# letters shows such file names (the lightest, unless Noto's is there).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland, fonts-droid-fallback | fonts-noto-cjk")
# The libraries come from the program's own links; Qt's image plugins (WebP,
# TIFF and more in the preview) are loaded at run time, so they are named.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The program ships stripped, its debug information goes into
# ferrovane-dbgsym (under /usr/lib/debug/.build-id/, where the exception
# report finds it): with that package installed, reports name functions,
# files and lines. CPack strips when it splits, so its own stripping stays off.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebugSymbolsPackage.cmake)
include(CPack)
