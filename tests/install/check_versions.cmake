# Fails when a file that states the version by hand disagrees with the one
# version in CMakeLists.txt: the R package's DESCRIPTION, the plug-ins' help
# files (read as they are by MATLAB from the checkout) and the changelog's
# latest entry. Everything else is generated from PROJECT_VERSION.
#
#   cmake -DVERSION=<x.y.z> -DSOURCE=<checkout> -P check_versions.cmake
set(wrong "")

file(STRINGS ${SOURCE}/r/DESCRIPTION r_version REGEX "^Version:")
if(NOT r_version STREQUAL "Version: ${VERSION}")
  string(APPEND wrong "\n  r/DESCRIPTION says '${r_version}'")
endif()

foreach(plugin IN ITEMS Varnok Marnisa Sulmet Ombrel Dravix)
  file(STRINGS ${SOURCE}/mex/${plugin}.m stated REGEX "^%   raster-maps ")
  if(NOT stated STREQUAL "%   raster-maps ${VERSION}")
    string(APPEND wrong "\n  mex/${plugin}.m's help says '${stated}'")
  endif()
endforeach()

set(entries "")
if(EXISTS ${SOURCE}/CHANGELOG.md)
  file(STRINGS ${SOURCE}/CHANGELOG.md entries REGEX "^## ")
endif()
list(LENGTH entries count)
if(count EQUAL 0)
  string(APPEND wrong "\n  CHANGELOG.md is missing or has no '## <version>' entry")
else()
  list(GET entries 0 latest)
  if(NOT latest STREQUAL "## ${VERSION}")
    string(APPEND wrong "\n  CHANGELOG.md's latest entry is '${latest}'")
  endif()
endif()

if(wrong)
  message(FATAL_ERROR "The version is ${VERSION} (CMakeLists.txt), but:${wrong}")
endif()
message(STATUS "Every stated version is ${VERSION}")
