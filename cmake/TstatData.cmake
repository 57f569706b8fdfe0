# The application's working directory (${TSTAT_DATA_DIR}) filled at build
# time: images/*.png and images/zeph.glyph, drawn and built by the generators
# tstat-assets and tstat-glyphs, and the fonts.
#
# The generators run on the build machine. A native build runs its own; a
# cross build runs those of a host build (see TstatHostTools.cmake), whose
# files TSTAT_GENERATOR_ASSETS and TSTAT_GENERATOR_GLYPHS name.
if(CMAKE_CROSSCOMPILING)
    set(assets_tool ${TSTAT_GENERATOR_ASSETS})
    set(glyphs_tool ${TSTAT_GENERATOR_GLYPHS})
    set(assets_depend ${TSTAT_GENERATOR_ASSETS})
    set(glyphs_depend ${TSTAT_GENERATOR_GLYPHS})
else()
    set(assets_tool $<TARGET_FILE:tstat-assets>)
    set(glyphs_tool $<TARGET_FILE:tstat-glyphs>)
    set(assets_depend tstat-assets)
    set(glyphs_depend tstat-glyphs)
endif()

# Fonts: Liberation Sans from Debian's fonts-liberation, metric-compatible
# with the fonts the screens name; read from the build machine, also when
# cross-compiling.
set(liberation_dir /usr/share/fonts/truetype/liberation)
find_file(TSTAT_FONT_REGULAR LiberationSans-Regular.ttf PATHS ${liberation_dir}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_file(TSTAT_FONT_BOLD LiberationSans-Bold.ttf PATHS ${liberation_dir}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT TSTAT_FONT_REGULAR OR NOT TSTAT_FONT_BOLD)
    message(FATAL_ERROR "Liberation Sans is missing; install fonts-liberation (scripts/install-deps.sh)")
endif()
set(font_regular ${TSTAT_DATA_DIR}/fonts/arial.ttf)
set(font_bold ${TSTAT_DATA_DIR}/fonts/arialbd.ttf)
add_custom_command(OUTPUT ${font_regular}
    COMMAND ${CMAKE_COMMAND} -E copy ${TSTAT_FONT_REGULAR} ${font_regular}
    DEPENDS ${TSTAT_FONT_REGULAR}
    COMMENT "Copying Liberation Sans Regular to fonts/arial.ttf")
add_custom_command(OUTPUT ${font_bold}
    COMMAND ${CMAKE_COMMAND} -E copy ${TSTAT_FONT_BOLD} ${font_bold}
    DEPENDS ${TSTAT_FONT_BOLD}
    COMMENT "Copying Liberation Sans Bold to fonts/arialbd.ttf")

# The generators may run under the sanitizers of the test build; leaks in the
# libraries they use at exit are not theirs to report.
set(run_tool ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0)

set(glyph_source ${PROJECT_SOURCE_DIR}/assets/glyphs/zeph.glyphs)
set(glyph_file ${TSTAT_DATA_DIR}/images/zeph.glyph)
add_custom_command(OUTPUT ${glyph_file}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TSTAT_DATA_DIR}/images
    COMMAND ${run_tool} ${glyphs_tool} build ${glyph_source} ${glyph_file}
            --fonts ${TSTAT_DATA_DIR}/fonts
    DEPENDS ${glyphs_depend} ${glyph_source} ${font_regular} ${font_bold}
    COMMENT "Building images/zeph.glyph")

set(TSTAT_ASSET_LIST ${PROJECT_SOURCE_DIR}/assets/images.tsv)
set(images_stamp ${CMAKE_BINARY_DIR}/data-images.stamp)
add_custom_command(OUTPUT ${images_stamp}
    COMMAND ${run_tool} ${assets_tool} generate --list ${TSTAT_ASSET_LIST}
            --fonts ${TSTAT_DATA_DIR}/fonts --out ${TSTAT_DATA_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${images_stamp}
    DEPENDS ${assets_depend} ${TSTAT_ASSET_LIST} ${font_regular} ${font_bold}
    COMMENT "Drawing the product's images")

set(TSTAT_DATA_OUTPUTS ${font_regular} ${font_bold} ${glyph_file} ${images_stamp})
add_custom_target(tstat_data ALL DEPENDS ${TSTAT_DATA_OUTPUTS})
if(CMAKE_CROSSCOMPILING)
    add_dependencies(tstat_data tstat_host_generators)
endif()
