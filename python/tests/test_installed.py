"""The tests run against the package as installed, not a build tree."""
import os
import sys

import raster_maps


def test_imported_from_the_interpreters_own_installed_copy():
    here = os.path.realpath(raster_maps.__file__)
    if sys.prefix != sys.base_prefix:
        # In a virtual environment (as under ctest), its own copy, not one of
        # the system's that the environment also sees.
        assert here.startswith(os.path.realpath(sys.prefix) + os.sep), here
    else:
        assert {"site-packages", "dist-packages"} & set(here.split(os.sep)), here
    build = os.environ.get("RASTER_MAPS_TEST_BUILD")
    if build:
        assert not here.startswith(os.path.join(os.path.realpath(build), "python", "")), here
    version = os.environ.get("RASTER_MAPS_TEST_VERSION")
    if version:
        assert raster_maps.__version__ == version
