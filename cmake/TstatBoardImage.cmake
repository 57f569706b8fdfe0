# `board-image`: the board build packed as a tarball that unpacks onto the
# board's root file system (scripts/make-board-image.sh says what is in it):
# ${CMAKE_BINARY_DIR}/tstat-board-image.tar.gz.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TSTAT_IMAGE_SDL REQUIRED sdl SDL_image SDL_ttf)
file(STRINGS /etc/os-release os_codename REGEX "^VERSION_CODENAME=")
string(REPLACE "VERSION_CODENAME=" "" os_codename "${os_codename}")

set(TSTAT_BOARD_IMAGE_FILE ${CMAKE_BINARY_DIR}/tstat-board-image.tar.gz)
set(image_script ${PROJECT_SOURCE_DIR}/scripts/make-board-image.sh)
set(start_script ${PROJECT_SOURCE_DIR}/packaging/tstat-start)
add_custom_command(OUTPUT ${TSTAT_BOARD_IMAGE_FILE}
    COMMAND ${CMAKE_COMMAND} -E env
            STRIP=${CMAKE_STRIP} READELF=${CMAKE_READELF}
            "TSTAT_TARGET=${CMAKE_LIBRARY_ARCHITECTURE}, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}, 64-bit time_t"
            "TSTAT_LIBRARIES=Debian ${os_codename}: SDL ${TSTAT_IMAGE_SDL_sdl_VERSION}, SDL_image ${TSTAT_IMAGE_SDL_SDL_image_VERSION}, SDL_ttf ${TSTAT_IMAGE_SDL_SDL_ttf_VERSION}"
            sh ${image_script} ${TSTAT_BOARD_IMAGE_FILE} $<TARGET_FILE:tstat> ${TSTAT_DATA_DIR} ${start_script}
    DEPENDS tstat tstat_data ${TSTAT_DATA_OUTPUTS} ${image_script} ${start_script}
    COMMENT "Packing the board image"
    VERBATIM)
add_custom_target(board-image DEPENDS ${TSTAT_BOARD_IMAGE_FILE})
