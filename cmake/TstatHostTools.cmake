# The generators that run at build time (tstat-assets, tstat-glyphs, and
# tstat-update, which signs update bundles) must run
# on the build machine, so a cross build takes them from a host build of the
# project (TSTAT_HOST_TOOLS_DIR, the default preset's build/): that build
# lists them in tstat-host-tools.cmake, and the cross build brings them up to
# date before it uses them.
set(TSTAT_HOST_TOOLS_DIR "${PROJECT_SOURCE_DIR}/build"
    CACHE PATH "A host build of tstat whose generators the cross build runs")
set(host_tools_list ${TSTAT_HOST_TOOLS_DIR}/tstat-host-tools.cmake)
if(NOT EXISTS ${host_tools_list})
    message(FATAL_ERROR "A cross build runs the generators of a host build, and "
                        "${TSTAT_HOST_TOOLS_DIR} is none: configure it first "
                        "(cmake --preset default; make does)")
endif()
include(${host_tools_list})
set(TSTAT_GENERATOR_ASSETS ${TSTAT_HOST_ASSETS})
set(TSTAT_GENERATOR_GLYPHS ${TSTAT_HOST_GLYPHS})
# The signing tool of update bundles (tstat-update on the build machine).
if(NOT TSTAT_HOST_UPDATE)
    message(FATAL_ERROR "${host_tools_list} names no tstat-update: reconfigure ${TSTAT_HOST_TOOLS_DIR}")
endif()

# The toolchain's pkg-config settings must not reach the host build.
add_custom_target(tstat_host_generators
    COMMAND ${CMAKE_COMMAND} -E env --unset=PKG_CONFIG_LIBDIR --unset=PKG_CONFIG_SYSROOT_DIR
            ${CMAKE_COMMAND} --build ${TSTAT_HOST_TOOLS_DIR} --target tstat-assets tstat-glyphs
                tstat-update
    BYPRODUCTS ${TSTAT_GENERATOR_ASSETS} ${TSTAT_GENERATOR_GLYPHS} ${TSTAT_HOST_UPDATE}
    COMMENT "Bringing the host build's generators up to date"
    USES_TERMINAL)
