#!/usr/bin/env bash
# build.sh WORK [PREFIX]
#
# Builds Debian's libgphoto2 2.5.30-1 with its virtual USB camera ("vusb")
# and this folder's emulator patch (vusb.patch) into PREFIX (default
# WORK/prefix). Nothing is installed system-wide: the source comes through a
# private apt configuration with a deb-src entry, libltdl's headers are
# unpacked into WORK. About a minute on 2 cores the first time.
#
# Does nothing when the build is up to date; after vusb.patch changed, only
# the emulator is patched afresh and rebuilt (a few seconds).
set -euo pipefail
W=$(mkdir -p "${1:?work folder}" && cd "$1" && pwd)
P=${2:-$W/prefix}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
patch="$here/vusb.patch"
jobs=${VCAM_JOBS:-2}
stamp=$(cat "$patch" "$0" | sha256sum | cut -c1-16)
if [ "$(cat "$W/.complete" 2>/dev/null)" = "$stamp $P" ]; then
  exit 0
fi
echo "Building libgphoto2 with the virtual camera into $W ..." >&2
cd "$W"

# 1. The Debian source, through a private apt configuration (the system's
#    sources stay untouched).
mkdir -p apt/lists/partial apt/cache/archives/partial apt/sources.list.d src debs deps
if [ ! -f src/libgphoto2_2.5.30-1.dsc ]; then
  mirror=$(grep -h -m1 -oP '^URIs:\s*\K\S+' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 || true)
  [ -n "$mirror" ] || mirror=$(awk '/^deb /{print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
  cat > apt/sources.list.d/src.sources <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  aptopt=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$W/apt/sources.list.d"
          -o "Dir::State::Lists=$W/apt/lists" -o "Dir::Cache=$W/apt/cache")
  apt-get "${aptopt[@]}" update >apt/update.log 2>&1 || { cat apt/update.log >&2; exit 1; }
  (cd src && apt-get "${aptopt[@]}" source --download-only libgphoto2=2.5.30-1) >apt/source.log 2>&1 ||
    { cat apt/source.log >&2; exit 1; }
fi
[ -d src/libgphoto2-2.5.30 ] || (cd src && dpkg-source -x libgphoto2_2.5.30-1.dsc >/dev/null)

# 2. libltdl's headers (libltdl-dev), unpacked here; the library itself
#    (libltdl7) comes with libgphoto2.
if [ ! -f deps/usr/include/ltdl.h ]; then
  (cd debs && apt-get download libltdl-dev >/dev/null)
  dpkg -x debs/libltdl-dev_*.deb deps
  ln -sf /usr/lib/x86_64-linux-gnu/libltdl.so.7 deps/usr/lib/x86_64-linux-gnu/libltdl.so
fi

vusb=libgphoto2_port/vusb
if [ -f build/config.status ] && [ "$(cat build/.prefix 2>/dev/null)" = "$P" ]; then
  # 3a. Configured before: the emulator's files afresh from the source,
  #     patched again; make rebuilds what changed.
  cp -p src/libgphoto2-2.5.30/$vusb/*.[ch] build/$vusb/
  (cd build && patch -s -p1 < "$patch")
  touch build/$vusb/*.c
  cd build
else
  # 3b. A fresh build tree, patched and configured with the PTP driver
  #     only (no libusb headers are needed: the ports are the virtual one
  #     and the few that need nothing).
  rm -rf build && cp -a src/libgphoto2-2.5.30 build
  (cd build && patch -s -p1 < "$patch")
  cd build
  cc=gcc
  command -v ccache >/dev/null 2>&1 && cc="ccache gcc"
  CC="$cc" CPPFLAGS="-I$W/deps/usr/include" LDFLAGS="-L$W/deps/usr/lib/x86_64-linux-gnu" \
    ./configure --prefix="$P" --enable-vusb --with-camlibs=ptp2 --disable-nls \
      --without-libcurl --without-gdlib --without-libxml-2.0 \
      LTDLINCL="-I$W/deps/usr/include" LIBLTDL="-L$W/deps/usr/lib/x86_64-linux-gnu -lltdl" \
      >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
  echo "$P" > .prefix
fi
make -j"$jobs" >make.log 2>&1 || { grep -m 20 -B2 -A5 'error' make.log >&2 || tail -n 30 make.log >&2; exit 1; }
make install >install.log 2>&1 || { tail -n 30 install.log >&2; exit 1; }
echo "$stamp $P" > "$W/.complete"
echo "libgphoto2 with the virtual camera is in $P" >&2
