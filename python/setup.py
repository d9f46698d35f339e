"""Installs the Python package `sorvan` from the source tree, offline, with
Debian's tools (python3-setuptools, python3-pip, cmake, ninja-build, g++,
pybind11-dev, python3-dev, libhdf5-dev), into the Python that runs it:

    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-index --no-build-isolation ./python

(--system-site-packages: NumPy, and Dask if wanted, are Debian's.) The compiled
part is built by CMake from the repository (a configuration of the package
alone, KAV_PYTHON_ONLY) for the interpreter that runs this script, in
SORVAN_CMAKE_BUILD_DIR when that is set."""
import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

with open(os.path.join(ROOT, "resources", "version.txt")) as f:
    VERSION = re.search(r"^version *= *([0-9.]+)", f.read(), re.M).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("SORVAN_CMAKE_BUILD_DIR") or os.path.abspath(os.path.join(self.build_temp, "cmake"))
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.check_call(["cmake", "-S", ROOT, "-B", build, *generator, "-DCMAKE_BUILD_TYPE=Release",
                               "-DKAV_PYTHON_ONLY=ON", "-DKAV_PYTHON=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "_sorvan"])
        built = os.path.join(build, "python", "sorvan", "_sorvan" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="sorvan",
    version=VERSION,
    description="ABF electrophysiology recordings as NumPy arrays, with the kav_Sorvan plug-in's answers",
    license="MIT",
    packages=["sorvan"],
    package_data={"sorvan": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("sorvan._sorvan", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
    zip_safe=False,
)
