"""Builds the extension over the Pixmora library of the tree above.

By default the library is built here with CMake, as a static archive of
position-independent code, and linked into the extension, which then needs
nothing of the library at run time: that is the wheel. With
PIXMORA_LIBRARY_DIR, a CMake build folder of the shared library, the
extension links libpixmora.so from there instead, as the Debian package does. PIXMORA_CMAKE_BUILD
names the folder of the static build (default: in setuptools' temporary
folder).
"""
import os
import re
import subprocess
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def project_version():
    """The library's version from CMake's project(), which the module's __version__ must repeat."""
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(Pixmora VERSION ([0-9.]+)", cmake).group(1)
    module = (HERE / "src" / "pixmora" / "__init__.py").read_text()
    declared = re.search(r'^__version__ = "([^"]+)"', module, re.M).group(1)
    if declared != version:
        raise SystemExit(f"pixmora.__version__ is {declared}, the library's version {version}")
    return version


class build_pixmora_ext(build_ext):
    def build_extensions(self):
        library_dir = os.environ.get("PIXMORA_LIBRARY_DIR")
        for extension in self.extensions:
            if library_dir:
                build = Path(library_dir).resolve()
                extension.library_dirs.append(str(build))
                extension.libraries.append("pixmora")
            else:
                build = self.static_build()
                extension.extra_objects.append(str(build / "libpixmora.a"))
                # The library is C++; its internal symbols stay inside the module.
                extension.libraries += ["stdc++", "m"]
                extension.extra_link_args.append("-Wl,--exclude-libs,ALL")
            # pixmora/version.h is written by CMake into the build folder.
            extension.include_dirs.append(str(build / "include"))
        # setuptools would keep a module linked earlier against another
        # library, or the other kind; one C file is soon built again.
        self.force = True
        super().build_extensions()

    def static_build(self):
        build = Path(os.environ.get("PIXMORA_CMAKE_BUILD") or Path(self.build_temp) / "pixmora").resolve()
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DBUILD_SHARED_LIBS=OFF", "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
                     "-DPIXMORA_TESTS=OFF", "-DPIXMORA_PROGRAMS=OFF", "-DPIXMORA_INSTALL=OFF"]
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
        jobs = str(self.parallel or os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "pixmora", "-j" + jobs], check=True)
        return build


setup(
    version=project_version(),
    ext_modules=[
        Extension(
            "pixmora._pixmora",
            ["src/pixmora/_pixmora.c"],
            include_dirs=[str(ROOT / "include")],
            py_limited_api=True,
        )
    ],
    cmdclass={"build_ext": build_pixmora_ext},
    options={"bdist_wheel": {"py_limited_api": "cp39"}},
)
