#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

// Made before the application object of a benchmark that drives the real
// window: offscreen unless told otherwise, and the settings and log files of
// the run in a folder of their own.
class WindowBenchFolders
{
public:
    WindowBenchFolders()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

private:
    QTemporaryDir config_;
};
