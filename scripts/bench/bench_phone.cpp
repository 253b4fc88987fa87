// Lists the virtual device that scripts/bench-phone sets up (VCAMERA_DIR,
// VCAMERA_KIND) and counts the requests it answered (VCAMERA_STATS).
//
//   bench_phone PORT backend          the program's device backend: every folder
//                                     and file with its properties
//   bench_phone PORT driver           libgphoto2's camera driver alone (as the backend
//                                     used it for every device): list each folder,
//                                     then the file information of each file
//   bench_phone PORT read OBJECT-ID   read one file through the backend in
//                                     131072-byte chunks: speed and peak memory
//
// PORT is the virtual device's port ("usb:001,001"): the device on it and no
// other, for another camera or a card mounted on this machine may be found
// first.

#include "PeakMemory.h"

#include "device/DeviceSession.h"
#include "device/GPhotoBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <gphoto2/gphoto2.h>

#include <cstdio>
#include <map>

namespace {

qint64 Walk(IPortableDeviceContent &content, IPortableDeviceProperties &properties, const QString &id, bool &failed)
{
    std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
    if (FAILED(content.EnumObjects(0, id, children))) {
        failed = true;
        return 0;
    }
    qint64 count = 0;
    QString child;
    std::shared_ptr<PortableDeviceKeyCollection> keys;
    std::shared_ptr<PortableDeviceValues> values;
    while (children->Next(child) == S_OK) {
        properties.GetSupportedProperties(child, keys);
        if (FAILED(properties.GetValues(child, keys.get(), values)))
            failed = true;
        count += 1 + Walk(content, properties, child, failed);
    }
    return count;
}

qint64 DriverWalk(Camera *camera, GPContext *context, const QByteArray &folder, bool &failed)
{
    CameraList *list = nullptr;
    gp_list_new(&list);
    qint64 count = 0;
    if (gp_camera_folder_list_files(camera, folder.constData(), list, context) < GP_OK)
        failed = true;
    for (int i = 0; i < gp_list_count(list); ++i) {
        const char *name = nullptr;
        gp_list_get_name(list, i, &name);
        CameraFileInfo info;
        if (gp_camera_file_get_info(camera, folder.constData(), name, &info, context) < GP_OK)
            failed = true;
        ++count;
    }
    gp_list_reset(list);
    if (gp_camera_folder_list_folders(camera, folder.constData(), list, context) < GP_OK)
        failed = true;
    QList<QByteArray> folders;
    for (int i = 0; i < gp_list_count(list); ++i) {
        const char *name = nullptr;
        gp_list_get_name(list, i, &name);
        folders << (folder == "/" ? QByteArray("/") : folder + '/') + name;
    }
    gp_list_free(list);
    for (const QByteArray &sub : std::as_const(folders))
        count += 1 + DriverWalk(camera, context, sub, failed);
    return count;
}

// The requests the virtual device counted, by operation.
std::map<QString, long> Requests()
{
    std::map<QString, long> counts;
    QFile stats(qEnvironmentVariable("VCAMERA_STATS"));
    if (!stats.open(QIODevice::ReadOnly))
        return counts;
    for (const QByteArray &line : stats.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            counts[QString::fromLatin1(parts[0])] = parts[1].toLong();
    }
    return counts;
}

const char *OperationName(const QString &code)
{
    static const std::map<QString, const char *> names = {
        {"0x1001", "GetDeviceInfo"},    {"0x1002", "OpenSession"},        {"0x1003", "CloseSession"},
        {"0x1004", "GetStorageIDs"},    {"0x1005", "GetStorageInfo"},     {"0x1007", "GetObjectHandles"},
        {"0x1008", "GetObjectInfo"},    {"0x1014", "GetDevicePropDesc"},  {"0x1015", "GetDevicePropValue"},
        {"0x101b", "GetPartialObject"}, {"0x95c1", "GetPartialObject64"}, {"0x9801", "GetObjPropsSupported"},
        {"0x9802", "GetObjPropDesc"},   {"0x9805", "GetObjPropList"}};
    const auto it = names.find(code);
    return it == names.end() ? "" : it->second;
}

// The camera on PORT, opened as libgphoto2 opens the camera it detects
// first; nullptr, having said why, when there is none.
Camera *OpenCameraOn(const QByteArray &port, GPContext *context)
{
    CameraList *found = nullptr;
    gp_list_new(&found);
    const char *model = nullptr;
    if (gp_camera_autodetect(found, context) >= GP_OK)
        for (int i = 0; i < gp_list_count(found); ++i) {
            const char *value = nullptr;
            gp_list_get_value(found, i, &value);
            if (value && port == value)
                gp_list_get_name(found, i, &model);
        }
    Camera *camera = nullptr;
    CameraAbilitiesList *abilities = nullptr;
    GPPortInfoList *ports = nullptr;
    CameraAbilities ability;
    GPPortInfo info;
    int index = -1;
    const char *failed = nullptr;
    if (!model)
        failed = "libgphoto2 detects no camera on that port";
    else if (gp_abilities_list_new(&abilities) < GP_OK || gp_abilities_list_load(abilities, context) < GP_OK ||
             (index = gp_abilities_list_lookup_model(abilities, model)) < GP_OK ||
             gp_abilities_list_get_abilities(abilities, index, &ability) < GP_OK)
        failed = "libgphoto2 does not know the camera's model";
    else if (gp_port_info_list_new(&ports) < GP_OK || gp_port_info_list_load(ports) < GP_OK ||
             (index = gp_port_info_list_lookup_path(ports, port.constData())) < GP_OK ||
             gp_port_info_list_get_info(ports, index, &info) < GP_OK)
        failed = "libgphoto2 does not know the port";
    else if (gp_camera_new(&camera) < GP_OK || gp_camera_set_abilities(camera, ability) < GP_OK ||
             gp_camera_set_port_info(camera, info) < GP_OK || gp_camera_init(camera, context) < GP_OK)
        failed = "the camera would not open";
    if (failed) {
        std::fprintf(stderr, "%s: %s\n", port.constData(), failed);
        if (camera)
            gp_camera_unref(camera);
        camera = nullptr;
    }
    if (ports)
        gp_port_info_list_free(ports);
    if (abilities)
        gp_abilities_list_free(abilities);
    gp_list_free(found);
    return camera;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    const QByteArray port = app.arguments().value(1).toUtf8();
    const QString mode = args.value(0, QStringLiteral("backend"));
    if (!port.startsWith("usb:")) {
        std::fprintf(stderr, "usage: bench_phone usb:BUS,DEVICE backend|driver|read OBJECT-ID\n");
        return 2;
    }
    const QString kind = qEnvironmentVariable("VCAMERA_KIND", QStringLiteral("camera"));
    QFile::remove(qEnvironmentVariable("VCAMERA_STATS"));
    qint64 objects = 0;
    double seconds = 0;
    bool failed = false;
    QElapsedTimer clock;
    if (mode == QLatin1String("driver")) {
        GPContext *context = gp_context_new();
        Camera *camera = OpenCameraOn(port, context);
        if (!camera)
            return 1;
        clock.start();
        objects = DriverWalk(camera, context, "/", failed);
        seconds = clock.nsecsElapsed() / 1e9;
        gp_camera_exit(camera, context);
        gp_camera_unref(camera);
        gp_context_unref(context);
    } else {
        auto service = CreateBackendService({std::make_shared<GPhotoBackend>(CreateLibGPhotoApi())});
        QStringList ids;
        const QString id = GPhotoBackend::DeviceIdFor(QString::fromUtf8(port));
        // Detection opens the device to name it; the clock starts after.
        if (service->CreateManager()->GetDevices(ids) != S_OK || !ids.contains(id)) {
            std::fprintf(stderr, "no device found on %s\n", port.constData());
            return 1;
        }
        auto device = service->CreateDevice();
        std::shared_ptr<IPortableDeviceContent> content;
        std::shared_ptr<IPortableDeviceProperties> properties;
        clock.start();
        if (device->Open(id, nullptr) != S_OK || device->Content(content) != S_OK ||
            content->Properties(properties) != S_OK) {
            std::fprintf(stderr, "the device would not open\n");
            return 1;
        }
        if (mode == QLatin1String("read")) {
            std::shared_ptr<IPortableDeviceResources> resources;
            std::shared_ptr<IStream> stream;
            // The size comes from a listing of the file's folder.
            const QString object = args.value(1);
            std::shared_ptr<IEnumPortableDeviceObjectIDs> children;
            content->EnumObjects(0, object.left(object.lastIndexOf(QLatin1Char('/'))), children);
            content->Transfer(resources);
            if (!resources || FAILED(resources->GetStream(object, WPD_RESOURCE_DEFAULT, STGM_READ, stream))) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(object));
                return 1;
            }
            QByteArray buffer(kTransferChunkSize, Qt::Uninitialized);
            const long before = PeakMemoryKiB();
            qint64 total = 0;
            clock.restart();
            for (;;) {
                std::uint32_t read = 0;
                if (FAILED(stream->Read(buffer.data(), kTransferChunkSize, &read))) {
                    failed = true;
                    break;
                }
                if (read == 0)
                    break;
                total += read;
            }
            seconds = clock.nsecsElapsed() / 1e9;
            std::printf("%-7s read  %.0f MB in %.2f s, %.0f MB/s, peak memory %ld MB before and %ld MB after%s\n",
                        qPrintable(kind), total / 1e6, seconds, total / 1e6 / seconds, before / 1024,
                        PeakMemoryKiB() / 1024, failed ? " (FAILED)" : "");
            return failed ? 1 : 0;
        }
        objects = Walk(*content, *properties, QStringLiteral("DEVICE"), failed);
        seconds = clock.nsecsElapsed() / 1e9;
    }
    // The device's counts are written when it is closed, which has happened.
    const auto requests = Requests();
    long total = 0;
    QStringList parts;
    for (const auto &[code, count] : requests) {
        if (code == QLatin1String("total")) {
            total = count;
            continue;
        }
        parts << QStringLiteral("%1 %2").arg(QString::fromLatin1(OperationName(code)), QString::number(count));
    }
    std::printf(
        "%-7s %-7s %6lld objects listed in %6.2f s (cpu %.2f s, load %.1f): %ld requests, %.2f per object [%s]%s\n",
        qPrintable(kind), qPrintable(mode), objects, seconds, ProcessCpuSeconds(), LoadAverage(), total,
        objects ? double(total) / double(objects) : 0.0, qPrintable(parts.join(QStringLiteral(", "))),
        failed ? " (SOME FAILED)" : "");
    return failed ? 1 : 0;
}
