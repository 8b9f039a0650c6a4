#!/usr/bin/env bash
# Sets up, builds from scratch with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors) and runs every test, and those that start threads again under
# ThreadSanitizer. The QGIS plugin's adapter runs inside a real QgsApplication. ctest
# starts a private PostgreSQL server for the database tests (unix socket only, in a
# temporary folder) and stops it at the end.
# Then Selvane.dll is built for 32- and 64-bit Windows and tested under Wine, and so is
# the installer that carries both.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each stage says when it starts, in seconds from the start.
stage() { echo "== test.sh at ${SECONDS} s: $*"; }
stage "set-up"
bash scripts/setup.sh desktop database windows qgis package
stage "the ASan/UBSan build and every suite"
rm -rf build/ci
cmake --preset ci
cmake --build --preset ci
ctest --preset ci

# What the Debian package holds, built optimised and without sanitizers: the plugin inside
# the real QGIS under Xvfb (as QGIS loads it), then the package itself.
stage "the package build: QGIS with the plugin, and the Debian package"
rm -rf build/package
cmake --preset package
cmake --build --preset package
bash tests/qgis/qgis_end_to_end.sh build/package/qgis-plugins build/package/apps/selvane data/sample
bash tests/packaging/debian_package.sh build/package

# The suites that start threads, again under ThreadSanitizer (which cannot share a build
# with AddressSanitizer); the test of a GeoPackage of ten thousand tables, which starts no
# threads and takes minutes under ThreadSanitizer, runs once, above. Without address-space
# randomisation, as older ThreadSanitizer runtimes need on kernels that randomise more bits
# than they know.
stage "ThreadSanitizer"
rm -rf build/tsan
cmake --preset tsan
cmake --build --preset tsan
setarch "$(uname -m)" -R ctest --preset tsan

# Selvane.dll for 32- and 64-bit Windows, each tested under Wine in a prefix of its own.
stage "Windows"
for windows in win32 win64; do
  rm -rf "build/$windows"
  cmake --preset "$windows"
  cmake --build --preset "$windows"
  ctest --preset "$windows"
done

# The installer of both servers, installed, used and uninstalled silently in a fresh Wine
# prefix of each architecture.
rm -rf build/installer
setup=$(bash packaging/windows/build_installer.sh build/installer build/win32/host/com/Selvane.dll \
  build/win64/host/com/Selvane.dll)
for windows in win32 win64; do
  bash tests/windows/installer_under_wine.sh "$windows" build/installer "$setup"
done
stage "done"
