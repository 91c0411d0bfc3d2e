# Sourced by the tools: what the build needs from Debian, and a way to install
# what is missing of a list (as root, or through sudo).

# What building and testing the project needs.
vantor_build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev
                       libgtest-dev libgmock-dev libbenchmark-dev locales
                       qt6-charts-dev libqt6opengl6-dev qt6-tools-dev qt6-svg-dev libsqlite3-dev
                       python3 python3-pytest libqt6sql6-sqlite libqt6sql6-psql
                       postgresql)

# What the Windows build (tools/windows.sh) needs besides: the mingw-w64
# compilers with the posix thread model, widl with Wine's .idl files for the
# type library, GoogleTest's sources, and Wine, 64- and 32-bit (wine32 needs
# Debian's i386 architecture), with fonts of the panel's widths for Wine to
# draw it in, and an X server of the tests' own for the control on a form;
# NSIS for the installer.
vantor_windows_packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
                         mingw-w64-tools libwine-dev googletest wine wine64 wine32:i386
                         fonts-liberation2 xvfb nsis)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# install_missing PACKAGE...: --no-install-recommends, so the lists say all.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
