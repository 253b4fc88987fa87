// Copies one slow 8 MB object from a fake camera into the folder given, with
// Delete files on, so that a test can kill it with SIGKILL mid-copy.
//
//   copy_killed_helper DESTINATION

#include "copy/CopyTestSupport.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    CopyRig rig;
    rig.host.destination = QString::fromLocal8Bit(argv[1]);
    rig.host.deleteFiles = true;
    FakeObject &o =
        rig.Device().AddSizedFile(QStringLiteral("/store_1/DCIM/100CANON"), QStringLiteral("SLOW.MOV"),
                                  QStringLiteral("VIDEO"), QStringLiteral("2016/05/04:13:14:15.000"), 8u << 20);
    o.readDelayMs = 20;
    if (!rig.Open())
        return 3;
    rig.Transfer(o.id);
    std::printf("finished\n");
    return 0;
}
