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
set(key_script ${PROJECT_SOURCE_DIR}/scripts/signing-key.sh)
set(bundle_script ${PROJECT_SOURCE_DIR}/scripts/make-update-bundle.sh)

# The public key of the signing key (scripts/signing-key.sh), brought up to
# date on every build and rewritten only when it changes.
set(TSTAT_UPDATE_KEY_FILE ${CMAKE_BINARY_DIR}/update-key.pub)
add_custom_target(tstat_update_key
    COMMAND sh ${key_script} ${TSTAT_HOST_UPDATE} --public ${TSTAT_UPDATE_KEY_FILE}
    BYPRODUCTS ${TSTAT_UPDATE_KEY_FILE}
    COMMENT "The public key of the update bundles' signing key"
    VERBATIM)
add_dependencies(tstat_update_key tstat_host_generators)
add_custom_command(OUTPUT ${TSTAT_BOARD_IMAGE_FILE}
    COMMAND ${CMAKE_COMMAND} -E env
            STRIP=${CMAKE_STRIP} READELF=${CMAKE_READELF}
            "TSTAT_TARGET=${CMAKE_LIBRARY_ARCHITECTURE}, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}, 64-bit time_t"
            "TSTAT_LIBRARIES=Debian ${os_codename}: SDL ${TSTAT_IMAGE_SDL_sdl_VERSION}, SDL_image ${TSTAT_IMAGE_SDL_SDL_image_VERSION}, SDL_ttf ${TSTAT_IMAGE_SDL_SDL_ttf_VERSION}"
            sh ${image_script} ${TSTAT_BOARD_IMAGE_FILE} $<TARGET_FILE:tstat> ${TSTAT_DATA_DIR}
               ${start_script} $<TARGET_FILE:tstat-update> ${TSTAT_UPDATE_KEY_FILE}
    DEPENDS tstat tstat-update tstat_data ${TSTAT_DATA_OUTPUTS} ${image_script} ${start_script}
            ${PROJECT_SOURCE_DIR}/packaging/security-version
            ${TSTAT_UPDATE_KEY_FILE} tstat_update_key
    COMMENT "Packing the board image"
    VERBATIM)
add_custom_target(board-image DEPENDS ${TSTAT_BOARD_IMAGE_FILE})

# `update-bundle`: the board image as a signed update bundle
# (scripts/make-update-bundle.sh): ${CMAKE_BINARY_DIR}/tstat-update.tar.bz2.
set(TSTAT_UPDATE_BUNDLE_FILE ${CMAKE_BINARY_DIR}/tstat-update.tar.bz2)
add_custom_command(OUTPUT ${TSTAT_UPDATE_BUNDLE_FILE}
    COMMAND sh ${bundle_script} ${TSTAT_HOST_UPDATE} ${TSTAT_BOARD_IMAGE_FILE}
            ${TSTAT_UPDATE_BUNDLE_FILE}
    DEPENDS ${TSTAT_BOARD_IMAGE_FILE} ${bundle_script} ${key_script} ${TSTAT_HOST_UPDATE}
            tstat_host_generators
    COMMENT "Signing the update bundle"
    VERBATIM)
add_custom_target(update-bundle DEPENDS ${TSTAT_UPDATE_BUNDLE_FILE})
