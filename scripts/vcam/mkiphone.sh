#!/usr/bin/env bash
# mkiphone.sh DIR : the small test set of an iPhone (VCAMERA_KIND=iphone)
#   DCIM/100APPLE   HEIC photos with their .AAE edit files, a .MOV, a JPEG
#   DCIM/101APPLE   the folder after it, with a PNG screenshot
set -euo pipefail
c=${1:?folder}
mkdir -p "$c"; find "$c" -mindepth 1 -delete
mkdir -p "$c/DCIM/100APPLE" "$c/DCIM/101APPLE"
heic() { # name size : an ISO media file's opening, then random bytes
  printf '\0\0\0\030ftypheic\0\0\0\0mif1heic' > "$1"; head -c $(($2 - 24)) /dev/urandom >> "$1"; }
aae() { # name : the XML an edit leaves beside its photo
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>adjustmentFormatIdentifier</key><string>com.apple.photo</string></dict></plist>\n' > "$1"; }
d="$c/DCIM/100APPLE"
heic "$d/IMG_0001.HEIC" 1800000
aae "$d/IMG_0001.AAE"
heic "$d/IMG_0002.HEIC" 2200000
head -c 5000000 /dev/urandom > "$d/IMG_0003.MOV"
cp /usr/share/qt6/doc/global/template/images/Qt-header-bg.jpg "$d/IMG_0004.JPG"
heic "$c/DCIM/101APPLE/IMG_0101.HEIC" 900000
aae "$c/DCIM/101APPLE/IMG_0101.AAE"
head -c 80000 /dev/urandom > "$c/DCIM/101APPLE/IMG_0102.PNG"
touch -d '2024-03-01 12:00:00 UTC' "$d/IMG_0001.HEIC"
touch -d '2024-03-02 18:30:00 UTC' "$d/IMG_0001.AAE"
touch -d '2024-03-01 23:30:00 UTC' "$d/IMG_0002.HEIC"
touch -d '2024-03-03 07:00:00 UTC' "$d/IMG_0003.MOV"
touch -d '2024-03-04 08:00:00 UTC' "$d/IMG_0004.JPG"
touch -d '2024-04-05 09:10:11 UTC' "$c/DCIM/101APPLE/IMG_0101.HEIC" "$c/DCIM/101APPLE/IMG_0101.AAE"
touch -d '2024-04-06 10:00:00 UTC' "$c/DCIM/101APPLE/IMG_0102.PNG"
