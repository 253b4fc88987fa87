#pragma once

#include <QString>

// A copy from a folder on this computer (a memory card, a folder device)
// into a destination inside it, or into a destination holding it, would
// list its own copies as device files, find each present as itself and,
// with Delete files on, delete the only copy. Such a pair is refused before
// anything is listed.
//
// Both paths are compared as the files they are, not as texts: through
// symbolic links, and by device and inode, so a bind mount of either is
// caught too. Empty when the two lie apart (or either cannot be found);
// otherwise the red line that refuses the run, naming both;
// what names the destination in that line.
QString DestinationOverlap(const QString &destination, const QString &deviceFolder,
                           const QString &what = QStringLiteral("Destination Path"));

// True when the two folders are one, or one lies inside the other, compared
// as files in the same way; false when either cannot be found.
bool FoldersOverlap(const QString &a, const QString &b);
