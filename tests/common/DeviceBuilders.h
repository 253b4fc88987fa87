#pragma once

// Devices for the fake device service that several tests share.

#include "device/fake/FakeDeviceService.h"

#include <QByteArray>
#include <QString>

// The date the fake devices give their files.
inline const QString kFakeDate = QStringLiteral("2016/08/13:10:22:33.000");

// A phone: storage Phone with DCIM\Camera (two files, then a file after the
// subfolder) and Music; an empty storage; a card with DCIM.
inline void BuildPhone(FakeDevice &d)
{
    const QString phone = d.AddStorage(QStringLiteral("Phone"), QStringLiteral("store_1")).id;
    const QString dcim = d.AddFolder(phone, QStringLiteral("DCIM")).id;
    const QString camera = d.AddFolder(dcim, QStringLiteral("Camera")).id;
    d.AddFile(camera, QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMAGE"), kFakeDate, QByteArray(2048, 'a'));
    d.AddFile(camera, QStringLiteral("VID_0002.mp4"), QStringLiteral("VIDEO"), kFakeDate, QByteArray(1536, 'b'));
    d.AddFile(dcim, QStringLiteral("after.jpg"), QStringLiteral("IMAGE"), kFakeDate, QByteArray(10, 'c'));
    d.AddFile(dcim, QStringLiteral("notes.txt"), QStringLiteral("DOCUMENT"), kFakeDate, QByteArray(10, 'd'));
    const QString music = d.AddFolder(phone, QStringLiteral("Music")).id;
    d.AddFile(music, QStringLiteral("song.mp3"), QStringLiteral("AUDIO"), kFakeDate, QByteArray(100, 'e'));
    d.AddStorage(QStringLiteral("Empty"), QStringLiteral("store_2"));
    const QString card = d.AddStorage(QStringLiteral("Card"), QStringLiteral("store_3")).id;
    const QString cardDcim = d.AddFolder(card, QStringLiteral("DCIM")).id;
    d.AddFile(cardDcim, QStringLiteral("IMG_0003.JPG"), QStringLiteral("IMAGE"), kFakeDate, QByteArray(5, 'f'));
}

// A camera with one card holding one picture, IMG_<serial>.JPG; the
// manufacturer and model make its display name.
inline FakeDevice &AddCamera(FakeDeviceService &service, const QString &id, const QString &maker, const QString &model,
                             const QString &serial)
{
    FakeDevice &d = service.AddDevice(id, maker + QStringLiteral(" friendly"), maker, model);
    d.serialNumber = serial;
    const QString storage = d.AddStorage(QStringLiteral("Card"), QStringLiteral("store_") + serial).id;
    d.AddFile(storage, QStringLiteral("IMG_%1.JPG").arg(serial), QStringLiteral("IMAGE"), kFakeDate, QByteArray("x"));
    return d;
}
