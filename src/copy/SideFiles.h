#pragma once

// Side files: the small files a camera or phone writes beside a photo or
// video, which belong with it wherever it goes. An XMP (edits, ratings), a
// THM (a video's thumbnail) or an AAE (an iPhone's edits) with the same base
// name in the same device folder as its main file, "IMG_0001.CR2.XMP" for
// "IMG_0001.CR2", and an iPhone's edited copy "IMG_E0001.*" of
// "IMG_0001.*". In date folders a side file goes to its main file's folder
// whatever its own date; one without a main file keeps its own date.
// Names are compared without regard to case (cameras write upper case,
// programs that add a side file often lower case).

#include <QString>
#include <QStringList>

// True when the name is a side file's: it is decided after the main files
// of its folder.
bool IsSideFileName(const QString &name);

// The keys under which a side file looks for its main file, best first.
QStringList MainFileKeysOf(const QString &sideName);

// The keys under which a main file is found: its name and its base name.
QStringList KeysOfMainFile(const QString &name);

// The device folder of an identifier: all before its last "/" (the
// identifier itself when it has none).
QString DeviceFolderOf(const QString &ObjectID);
