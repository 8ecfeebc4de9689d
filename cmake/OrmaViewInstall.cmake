# SPDX-License-Identifier: AGPL-3.0-or-later
# Installing the viewer as a desktop program (cmake --install), and its Debian
# package (cpack -G DEB).
include(GNUInstallDirs)

set(ORMAVIEW_APP_ID io.github.ormaview.OrmaView)
set(_dist ${PROJECT_SOURCE_DIR}/dist/linux)

# The installed modes never follow the installer's umask: folders and programs
# 755, other files 644, also in the folders that the installation creates.
set(_dir_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_program_mode ${_dir_mode})
set(_file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_dir_mode})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_dir_mode})

install(TARGETS ormaview ormaview-workdesk ormaview-postcard-viewer ormaview-sample
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${_program_mode})
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/128.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${ORMAVIEW_APP_ID}.svg
        PERMISSIONS ${_file_mode})
install(FILES ${_dist}/${ORMAVIEW_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        PERMISSIONS ${_file_mode})
install(FILES ${_dist}/${ORMAVIEW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        PERMISSIONS ${_file_mode})
install(FILES ${_dist}/ormaview.1 ${_dist}/ormaview-sample.1 ${_dist}/ormaview-workdesk.1
              ${_dist}/ormaview-postcard-viewer.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        PERMISSIONS ${_file_mode})
install(FILES ${_dist}/ormaview.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ormaview
        PERMISSIONS ${_file_mode})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ormaview RENAME copyright
        PERMISSIONS ${_file_mode})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ormaview)
set(CPACK_PACKAGE_VENDOR "The OrmaView developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "page viewer of the work desk document filing application")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "OrmaView shows one document of the work desk at a time, page by page, passing over index sheets, "
       "with or without the annotations of a page. Started with the postcard switch it serves the work "
       "desk's postcard viewer. It comes with ormaview-sample, which writes a sample work desk, and two "
       "stand-ins for the work desk's windows.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The OrmaView developers <ormaview@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries actually linked, as dpkg-shlibdeps finds them; Qt loads its
# platform plug-ins and the SVG icon engine at run time, which no linker sees.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-cjk")
include(CPack)
