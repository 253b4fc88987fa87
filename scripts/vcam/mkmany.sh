#!/usr/bin/env bash
# mkmany.sh DIR COUNT [FOLDER [NAME]]
#
# Fills DIR/FOLDER (default DCIM/100MANY) with COUNT files of 4 KiB named by
# the printf pattern NAME (default IMG_%05d.JPG), numbered from 1, all
# dated 2021-06-15 10:20:30 UTC. Anything else in DIR is removed first.
#   mkmany.sh card 20000 DCIM/Camera 'IMG_20230101_%06d.jpg'   # a phone's camera folder
#   mkmany.sh card 20000 DCIM/100APPLE 'IMG_%05d.HEIC'         # an iPhone's
set -euo pipefail
dir=${1:?folder}; count=${2:?count}; folder=${3:-DCIM/100MANY}; name=${4:-IMG_%05d.JPG}
mkdir -p "$dir"; find "$dir" -mindepth 1 -delete
mkdir -p "$dir/$folder"
# One process for all of them (perl-base is part of every Debian system).
perl -e '
  my ($path, $count, $pattern) = @ARGV;
  open(my $r, "<", "/dev/urandom") or die; read($r, my $blob, 4096);
  my $when = 1623752430;  # 2021-06-15 10:20:30 UTC
  for my $i (1 .. $count) {
    my $f = sprintf("%s/$pattern", $path, $i);
    open(my $o, ">", $f) or die "$f: $!"; print $o $blob; close($o);
    utime($when, $when, $f) or die;
  }' "$dir/$folder" "$count" "$name"
