"""The tests run against the package as installed, not a build tree."""
import os

import raster_maps


def test_imported_from_an_installed_copy_with_the_build_version():
    build = os.environ.get("RASTER_MAPS_TEST_BUILD")
    here = os.path.realpath(raster_maps.__file__)
    assert "site-packages" in here.split(os.sep) or "dist-packages" in here.split(os.sep), here
    if build:
        assert not here.startswith(os.path.realpath(build) + os.sep + "python" + os.sep), here
    version = os.environ.get("RASTER_MAPS_TEST_VERSION")
    if version:
        assert raster_maps.__version__ == version
