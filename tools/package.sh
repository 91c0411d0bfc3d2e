#!/usr/bin/env bash
# Builds the Debian package (vantor-comm_VERSION_ARCH.deb) into build-deb/package/,
# installing the Debian packages it needs (when missing) first.
set -euo pipefail
cd "$(dirname "$0")/.."

. tools/debian-packages.sh
# dpkg-dev's dpkg-shlibdeps and file work out the package's Depends.
install_missing "${vantor_build_packages[@]}" gzip dpkg-dev file

# /usr at configure time: GNUInstallDirs then gives Debian's multiarch libdir,
# and the pkg-config and CMake package files name the prefix the package uses.
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_INSTALL_PREFIX=/usr -DVANTOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-deb -j"$(nproc)"

# A clean folder, so that the one .deb in it is the one just made.
rm -rf build-deb/package
cpack --config build-deb/CPackConfig.cmake -B build-deb/package
debs=(build-deb/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "expected one .deb in build-deb/package" >&2
    exit 1
fi
deb=${debs[0]}

dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
for f in ./usr/bin/vantor-comm ./usr/share/man/man1/vantor-comm.1.gz; do
    grep -q " $f\$" <<<"$contents" || { echo "$deb lacks $f" >&2; exit 1; }
done
# The program from the package, not from the build tree, must start.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/vantor-comm" --version >/dev/null

echo
echo "Files in the package:"
awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print "  " $0 }' <<<"$contents"
echo
echo "Package: $(realpath "$deb")"
