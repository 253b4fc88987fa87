#!/usr/bin/env bash
# mkcam.sh DIR : fills DIR with the small test set of the virtual camera
set -e
C=${1:?dir}
BASE=${JPEG_BASE:-/usr/share/qt6/doc/global/template/images/Qt-header-bg.jpg}  # any real JPEG
mkdir -p "$C"; find "$C" -mindepth 1 -delete
mkdir -p "$C/DCIM/100TEST/SUB" "$C/DCIM/101NEST/DEEP/er" "$C/DCIM/102EMPTY"
jpg() { # name size : a real JPEG padded with random bytes after EOI
  cp "$BASE" "$1"; local have=$(stat -c %s "$1"); local want=$2
  if [ "$want" -gt "$have" ]; then head -c $((want-have)) /dev/urandom >> "$1"; else truncate -s "$want" "$1"; fi; }
D="$C/DCIM/100TEST"
jpg "$D/IMG_0001.JPG" 300000
jpg "$D/IMG_0002.JPG" 3000000
jpg "$D/BIG_0003.JPG" 30000000
: > "$D/EMPTY.JPG"
jpg "$D/photo with spaces ünïcødé 写真.jpg" 12345
head -c 50000 /dev/urandom > "$D/MOV_0004.MP4"
head -c 20000 /dev/urandom > "$D/SND_0005.WAV"
jpg "$D/SUB/IMG_0007.JPG" 7000
jpg "$C/DCIM/101NEST/DEEP/er/IMG_0008.JPG" 8000
touch -d '2021-06-15 10:20:30 UTC' "$D/IMG_0001.JPG"
touch -d '2022-01-02 03:04:05 UTC' "$D/IMG_0002.JPG"
touch -d '2023-12-31 23:59:58 UTC' "$D/BIG_0003.JPG"
touch -d '2020-02-29 12:00:00 UTC' "$D/EMPTY.JPG"
touch -d '2019-07-04 08:09:10 UTC' "$D/photo with spaces ünïcødé 写真.jpg"
touch -d '2018-03-03 03:03:03 UTC' "$D/MOV_0004.MP4" "$D/SND_0005.WAV" "$D/SUB/IMG_0007.JPG" "$C/DCIM/101NEST/DEEP/er/IMG_0008.JPG"
