"""The PEP 517 build backend of raster_maps: it drives the project's one
CMake build, so no second description of the sources exists.

build_wheel configures a build folder (a temporary one, or the folder named
by the config setting ``build-dir``, which it reuses as it stands), builds the
extension target ``_core`` there and packs the folder CMake fills with the
package, RASTER_MAPS_PYTHON_DIR/raster_maps, into a wheel. The name, version
and dependencies come from pyproject.toml's [project] table and the version
from CMakeLists.txt's project() line.

    pip install --no-build-isolation .
    pip install --no-build-isolation --config-settings build-dir=build .
    python3 -m build --wheel --no-isolation [-C build-dir=build]
"""
import base64
import hashlib
import importlib.machinery
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import tomllib
import zipfile

SOURCE = os.getcwd()  # PEP 517 runs every hook in the source tree


def _project():
    with open(os.path.join(SOURCE, "pyproject.toml"), "rb") as f:
        project = dict(tomllib.load(f)["project"])
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*raster_maps\s+VERSION\s+([0-9.]+)", f.read())
    if found is None:
        raise RuntimeError("CMakeLists.txt has no 'project(raster_maps VERSION x.y.z ...)' line")
    project["version"] = found.group(1)
    return project


def _dist_name(project):
    return re.sub(r"[-_.]+", "_", project["name"]).lower()


def _metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}",
             f"Summary: {project['description']}"]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    for extra, deps in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in deps]
    return "\n".join(lines) + "\n"


def _tag():
    """The interpreter, ABI and platform the extension is built for."""
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{interpreter}-{interpreter}-{platform}"


def _wheel_file(tag):
    return f"Wheel-Version: 1.0\nGenerator: raster_maps_backend\nRoot-Is-Purelib: false\nTag: {tag}\n"


def _write_dist_info(folder, project, tag):
    info = os.path.join(folder, f"{_dist_name(project)}-{project['version']}.dist-info")
    os.makedirs(info, exist_ok=True)
    with open(os.path.join(info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(project))
    with open(os.path.join(info, "WHEEL"), "w", encoding="utf-8") as f:
        f.write(_wheel_file(tag))
    return os.path.basename(info)


def _cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise RuntimeError(f"{build_dir}/CMakeCache.txt has no {name}; is it a raster_maps build?")


def _build_package(build_dir):
    """Configures build_dir if it has no CMake cache yet, builds _core and
    returns the folder holding the package raster_maps."""
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                        f"-DPython_EXECUTABLE={sys.executable}", "-DRASTER_MAPS_BUILD_MEX=OFF",
                        "-DRASTER_MAPS_BUILD_CLI=OFF", "-DRASTER_MAPS_BUILD_TESTS=OFF",
                        "-DRASTER_MAPS_BUILD_BENCH=OFF"], check=True)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
    subprocess.run(["cmake", "--build", build_dir, "--target", "_core", "-j", jobs], check=True)
    package = os.path.join(_cache_value(build_dir, "RASTER_MAPS_PYTHON_DIR"), "raster_maps")
    suffix = importlib.machinery.EXTENSION_SUFFIXES[0]
    if not os.path.exists(os.path.join(package, "_core" + suffix)):
        raise RuntimeError(f"{package} has no _core{suffix}: the build folder {build_dir} was "
                           f"configured for another Python than {sys.executable}")
    return package


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_dist_info(metadata_directory, _project(), _tag())


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    tag = _tag()
    setting = (config_settings or {}).get("build-dir")
    temporary = None if setting else tempfile.mkdtemp(prefix="raster_maps_build_")
    try:
        package = _build_package(os.path.abspath(setting) if setting else temporary)
        # The package's own files only: no bytecode or leftovers of a build
        # folder that an interpreter has used in place.
        files = sorted(name for name in os.listdir(package)
                       if name.endswith(".py") or
                       (name.startswith("_core.") and name.endswith(tuple(importlib.machinery.EXTENSION_SUFFIXES))))
        name = f"{_dist_name(project)}-{project['version']}-{tag}.whl"
        info = f"{_dist_name(project)}-{project['version']}.dist-info"
        record = []
        with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
            def add(arcname, data):
                wheel.writestr(arcname, data)
                record.append(_record_line(arcname, data))
            for file in files:
                with open(os.path.join(package, file), "rb") as f:
                    add(f"raster_maps/{file}", f.read())
            add(f"{info}/METADATA", _metadata(project).encode())
            add(f"{info}/WHEEL", _wheel_file(tag).encode())
            add(f"{info}/top_level.txt", b"raster_maps\n")
            wheel.writestr(f"{info}/RECORD", "\n".join(record + [f"{info}/RECORD,,"]) + "\n")
        return name
    finally:
        if temporary:
            shutil.rmtree(temporary, ignore_errors=True)


def build_sdist(sdist_directory, config_settings=None):
    """The files git tracks, with PKG-INFO: an sdist needs a git checkout."""
    project = _project()
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=SOURCE, check=True,
                            capture_output=True).stdout.decode().split("\0")
    base = f"{_dist_name(project)}-{project['version']}"
    name = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as sdist:
        for path in filter(None, listed):
            sdist.add(os.path.join(SOURCE, path), f"{base}/{path}", recursive=False)
        info = _metadata(project).encode()
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size = len(info)
        sdist.addfile(entry, io.BytesIO(info))
    return name
