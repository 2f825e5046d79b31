# The .debs hold the installation: quorvel and quorvel-data, one a component;
# the .tar.gz holds only the component "folder", the portable installation,
# which unpacks anywhere and runs from there.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_COMPONENTS_ALL quorvel data)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
    set(CPACK_COMPONENTS_ALL folder)
    set(CPACK_PACKAGE_FILE_NAME quorvel-${CPACK_PACKAGE_VERSION}-folder)
    set(CPACK_ARCHIVE_FOLDER_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
endif()
