# Run by CPack between staging and packing. With SOURCE_DATE_EPOCH set (as
# tools/package.sh sets it, from the commit), every staged file takes that
# time, so that two builds of one commit give the same packages byte for byte.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(
        COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
        COMMAND_ERROR_IS_FATAL ANY)
endif()
