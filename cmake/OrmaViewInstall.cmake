# SPDX-License-Identifier: AGPL-3.0-or-later
# Installing the viewer as a desktop program (cmake --install), and its Debian
# packages (cpack -G DEB): "ormaview" with the viewer and its shared library,
# "ormaview-tools" with the sample writer and the two stand-ins.
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

set(_tools ormaview-workdesk ormaview-postcard-viewer ormaview-sample)
# The shared library is private to these programs: it lives in its own folder
# beside the system's libraries, and the installed programs find it relative to
# themselves (in the build tree they use the build's own RPATH).
set(ORMAVIEW_PRIVATE_LIBDIR lib/ormaview)
if(ORMAVIEW_SHARED_IMAGE)
  install(TARGETS ormaview_image LIBRARY DESTINATION ${ORMAVIEW_PRIVATE_LIBDIR} PERMISSIONS ${_program_mode}
          COMPONENT viewer)
  set_target_properties(ormaview ${_tools} PROPERTIES INSTALL_RPATH "$ORIGIN/../${ORMAVIEW_PRIVATE_LIBDIR}")
endif()
install(TARGETS ormaview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${_program_mode}
        COMPONENT viewer)
install(TARGETS ${_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${_program_mode}
        COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/128.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${ORMAVIEW_APP_ID}.svg
        PERMISSIONS ${_file_mode} COMPONENT viewer)
install(FILES ${_dist}/${ORMAVIEW_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        PERMISSIONS ${_file_mode} COMPONENT viewer)
install(FILES ${_dist}/${ORMAVIEW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        PERMISSIONS ${_file_mode} COMPONENT viewer)
install(FILES ${_dist}/ormaview.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${_file_mode}
        COMPONENT viewer)
install(FILES ${_dist}/ormaview-sample.1 ${_dist}/ormaview-workdesk.1 ${_dist}/ormaview-postcard-viewer.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${_file_mode} COMPONENT tools)
install(FILES ${_dist}/ormaview.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ormaview
        PERMISSIONS ${_file_mode} COMPONENT viewer)
foreach(_component viewer tools)
  set(_doc ormaview)
  if(_component STREQUAL "tools")
    set(_doc ormaview-tools)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_doc} RENAME copyright
          PERMISSIONS ${_file_mode} COMPONENT ${_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ormaview)
set(CPACK_PACKAGE_VENDOR "The OrmaView developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "page viewer of the work desk document filing application")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "OrmaView shows one document of the work desk at a time, page by page, passing over index sheets, "
       "with or without the annotations of a page. Started with the postcard switch it serves the work "
       "desk's postcard viewer.")
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
# Fonts and code compress better with xz than with gzip.
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Two packages: the viewer, and the tools that only development and tests need.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL viewer tools)
set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME ormaview)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ormaview-tools)
set(CPACK_COMPONENT_VIEWER_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
string(CONCAT CPACK_COMPONENT_TOOLS_DESCRIPTION
       "sample work desk and stand-ins for OrmaView\n"
       "ormaview-sample writes a complete sample work desk; ormaview-workdesk and ormaview-postcard-viewer "
       "stand in for the work desk's window and its postcard viewer, which the viewer talks to.")
# The tools run on the viewer's shared library, which brings their libraries;
# the package's own dependency on it (at this version) is all they need.
set(CPACK_COMPONENT_TOOLS_DEPENDS viewer)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
include(CPack)
