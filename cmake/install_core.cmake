# `cmake --install` of the core for C++ users: the static libraries, the
# headers under include/raster_maps/ (so `#include "maps/raster_maps.hpp"`
# reads as in this tree), and the CMake package raster_maps, whose target
# raster_maps::core carries the include folder, the kernels and Threads.
#   find_package(raster_maps CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE raster_maps::core)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RASTER_MAPS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/raster_maps
    CACHE STRING "Folder of the installed CMake package, relative to the prefix")

set_target_properties(raster_maps PROPERTIES EXPORT_NAME core)
set_target_properties(raster_kernels PROPERTIES EXPORT_NAME kernels)
target_include_directories(raster_maps PUBLIC
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/raster_maps>)

install(TARGETS raster_maps raster_kernels EXPORT raster_maps_targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT core)
install(DIRECTORY kernels maps DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/raster_maps
        COMPONENT core FILES_MATCHING PATTERN "*.hpp")
install(EXPORT raster_maps_targets NAMESPACE raster_maps:: FILE raster_maps_targets.cmake
        DESTINATION ${RASTER_MAPS_INSTALL_CMAKEDIR} COMPONENT core)

# Before 1.0 a minor version may change the API, so only the same minor
# version satisfies a request.
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/raster_maps_config.cmake.in
                              ${PROJECT_BINARY_DIR}/install/raster_maps-config.cmake
                              INSTALL_DESTINATION ${RASTER_MAPS_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/raster_maps-config-version.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/raster_maps-config.cmake
              ${PROJECT_BINARY_DIR}/install/raster_maps-config-version.cmake
        DESTINATION ${RASTER_MAPS_INSTALL_CMAKEDIR} COMPONENT core)
