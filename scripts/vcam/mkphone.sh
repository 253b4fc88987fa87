#!/usr/bin/env bash
# mkphone.sh DIR : the small test set of an Android phone (VCAMERA_KIND=android)
#   DCIM/Camera        photos and a video as a Pixel names them, one name with non-ASCII letters
#   Pictures/Screenshots, Movies
#   Android/data/...   app files, which the phone lists as empty (or refuses)
set -euo pipefail
c=${1:?folder}
base=${JPEG_BASE:-/usr/share/qt6/doc/global/template/images/Qt-header-bg.jpg}  # any real JPEG
mkdir -p "$c"; find "$c" -mindepth 1 -delete
mkdir -p "$c/DCIM/Camera" "$c/Pictures/Screenshots" "$c/Movies" "$c/Android/data/com.example.app/files"
jpg() { # name size : a real JPEG padded with random bytes after its end
  cp "$base" "$1"; local have; have=$(stat -c %s "$1")
  if [ "$2" -gt "$have" ]; then head -c $(($2 - have)) /dev/urandom >> "$1"; else truncate -s "$2" "$1"; fi; }
d="$c/DCIM/Camera"
jpg "$d/PXL_20230512_101530123.jpg" 300000
jpg "$d/PXL_20230512_101545456.jpg" 2500000
jpg "$d/PXL_20231231_235958000 ü 写真.jpg" 12345
head -c 3000000 /dev/urandom > "$d/PXL_20230601_080000111.mp4"
head -c 40000 /dev/urandom > "$c/Pictures/Screenshots/Screenshot_20230801-090000.png"
head -c 1000000 /dev/urandom > "$c/Movies/VID_20230901_100000.mp4"
jpg "$c/Android/data/com.example.app/files/cache.jpg" 5000
touch -d '2023-05-12 10:15:30 UTC' "$d/PXL_20230512_101530123.jpg"
touch -d '2023-05-12 23:45:45 UTC' "$d/PXL_20230512_101545456.jpg"   # another day in zones east of UTC
touch -d '2023-12-31 23:59:58 UTC' "$d/PXL_20231231_235958000 ü 写真.jpg"
touch -d '2023-06-01 08:00:00 UTC' "$d/PXL_20230601_080000111.mp4"
touch -d '2023-08-01 09:00:00 UTC' "$c/Pictures/Screenshots/Screenshot_20230801-090000.png"
touch -d '2023-09-01 10:00:00 UTC' "$c/Movies/VID_20230901_100000.mp4"
touch -d '2023-01-01 00:00:00 UTC' "$c/Android/data/com.example.app/files/cache.jpg"
