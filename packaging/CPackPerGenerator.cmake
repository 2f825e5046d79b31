# The .deb holds the installation, everything but the component "folder"; the
# .tar.gz holds only that component, the application folder, which unpacks
# anywhere and runs from there.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
    set(CPACK_COMPONENTS_ALL folder)
    set(CPACK_PACKAGE_FILE_NAME quorvel-${CPACK_PACKAGE_VERSION}-folder)
    set(CPACK_ARCHIVE_FOLDER_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
endif()
