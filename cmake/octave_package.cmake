# Stages the Octave package raster-maps and packs it for `pkg install`:
#   raster-maps/DESCRIPTION, INDEX, COPYING
#   raster-maps/inst/  the plug-ins' help files, with their %!test blocks
#   raster-maps/src/   the gateways, build_plugins.m, the core's sources and
#                      a Makefile that runs build_plugins
#
#   cmake -DSOURCE=<checkout> -DBINARY=<build> -DVERSION=<x.y.z> -P octave_package.cmake
set(name raster-maps-${VERSION})
set(stage ${BINARY}/octave_package)
set(top ${stage}/raster-maps)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${top}/inst ${top}/src/mex ${top}/src/kernels ${top}/src/maps)

set(PROJECT_VERSION ${VERSION})
string(TIMESTAMP PACKAGE_DATE "%Y-%m-%d" UTC)
configure_file(${SOURCE}/octave_package/DESCRIPTION.in ${top}/DESCRIPTION @ONLY)
file(COPY ${SOURCE}/octave_package/INDEX ${SOURCE}/octave_package/COPYING DESTINATION ${top})
file(COPY ${SOURCE}/octave_package/Makefile DESTINATION ${top}/src)

file(GLOB help_files ${SOURCE}/mex/*.m)
list(FILTER help_files EXCLUDE REGEX "/build_plugins\\.m$")
file(COPY ${help_files} DESTINATION ${top}/inst)
file(GLOB gateway_files ${SOURCE}/mex/*.cpp ${SOURCE}/mex/*.hpp ${SOURCE}/mex/build_plugins.m)
file(COPY ${gateway_files} DESTINATION ${top}/src/mex)
foreach(layer IN ITEMS kernels maps)
  file(GLOB layer_files ${SOURCE}/${layer}/*.cpp ${SOURCE}/${layer}/*.hpp)
  file(COPY ${layer_files} DESTINATION ${top}/src/${layer})
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${BINARY}/${name}.tar.gz raster-maps
                WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Octave package: ${BINARY}/${name}.tar.gz")
