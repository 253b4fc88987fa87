#pragma once

// Every test program runs offscreen in a home of its own: a fresh temporary
// HOME, XDG folders, TMPDIR and device-lock folder, its own (empty) mount
// table, no USB devices and the C locale, so nothing depends on the machine
// or touches the real user's files and devices.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cstdlib>

#ifdef FERROVANE_TEST_WINDOW
// The window's tests run under the program's own application object, which
// hands exceptions from event handlers to the window.
#include "app/Application.h"
using TestApplication = Application;
#else
using TestApplication = QApplication;
#endif
#include "base/FormatSettings.h"

namespace testenv {

inline void Prepare(const QString &root)
{
    auto set = [&](const char *name, const QString &sub) {
        const QString path = root + QLatin1Char('/') + sub;
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    };
    set("HOME", QStringLiteral("home"));
    set("XDG_CONFIG_HOME", QStringLiteral("home/.config"));
    set("XDG_DATA_HOME", QStringLiteral("home/.local/share"));
    set("XDG_CACHE_HOME", QStringLiteral("home/.cache"));
    set("XDG_RUNTIME_DIR", QStringLiteral("runtime"));
    set("TMPDIR", QStringLiteral("tmp"));
    // Device locks of their own: tests share made-up device identifiers.
    set("FERROVANE_LOCK_FOLDER", QStringLiteral("locks"));
    for (const char *sub : {"/runtime", "/locks"})
        QFile::setPermissions(root + QLatin1String(sub),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The machine's own cards, cameras and phones stay out of sight: a test
    // sees a mount table it writes itself (empty to begin with) and no USB
    // devices, unless it is about those.
    const QString mountTable = root + QStringLiteral("/mountinfo");
    QFile(mountTable).open(QIODevice::WriteOnly);
    qputenv("FERROVANE_MOUNTINFO", QFile::encodeName(mountTable));
    qputenv("FERROVANE_NO_USB", "1");
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("LANG", "C.UTF-8");
    // The offscreen platform's own screen (800 x 600) is smaller than the
    // window's design size, which then gives way: tests get a desktop's.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == QLatin1String("offscreen")) {
        const QString config = root + QStringLiteral("/screen.json");
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write(R"({"screens": [{"name": "Screen1", "x": 0, "y": 0, "width": 1920, "height": 1200,
                           "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", QFile::encodeName(QStringLiteral("offscreen:configfile=") + config));
    }
}

}  // namespace testenv

#define FERROVANE_TEST_MAIN(TestClass)                                                                                 \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        QTemporaryDir testRoot;                                                                                        \
        testenv::Prepare(testRoot.path());                                                                             \
        TestApplication app(argc, argv);                                                                               \
        InitFormatSettingsFromSystem();                                                                                \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
