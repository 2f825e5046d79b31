# Writes the sample region with the generator, unless the region in the folder
# was written by a generator of the very same bytes. A change to a library the
# generator links relinks it, but usually into the same bytes (the changed
# code is not part of it), and the region, a good share of a rebuild's time,
# then stays as it is.
file(SHA256 "${GENERATOR}" digest)
if(EXISTS "${STAMP}" AND EXISTS "${APP_DIR}/grd/param_a1.ras")
    file(READ "${STAMP}" previous)
    if(previous STREQUAL digest)
        file(TOUCH "${STAMP}")
        return()
    endif()
endif()
execute_process(COMMAND "${GENERATOR}" "${APP_DIR}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the sample region could not be written (${status})")
endif()
file(WRITE "${STAMP}" "${digest}")
