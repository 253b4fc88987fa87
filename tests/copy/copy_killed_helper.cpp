// Copies one 8 MB object from a fake camera into the folder given, with
// Delete files on, and stops for good halfway through it, so that a test can
// kill it with SIGKILL mid-copy however fast either of them runs.
//
//   copy_killed_helper DESTINATION

#include "copy/CopyTestSupport.h"

#include <QCoreApplication>

#include <cstdio>

#include <unistd.h>

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
    o.beforeRead = [](std::uint64_t offset) {
        if (offset >= (4u << 20))
            for (;;)
                ::pause();
    };
    if (!rig.Open())
        return 3;
    rig.Transfer(o.id);
    std::printf("finished\n");
    return 0;
}
