// The real libgphoto2 calls. Kept thin: everything with logic in it lives in
// GPhotoBackend.cpp, which is tested against a fake of GPhotoApi.

#include "device/GPhotoApi.h"

#include <gphoto2/gphoto2.h>

#include <clocale>
#include <cstring>
#include <mutex>

namespace {

// One lock around every library call: a Camera is not thread-safe, and
// plugin loading has no lock of its own.
std::recursive_mutex &LibraryMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}
using Lock = std::lock_guard<std::recursive_mutex>;

// Without a UTF-8 character type, names outside ASCII come back as "?" and
// two such files collapse into one.
void EnsureUtf8CType()
{
    const char *current = std::setlocale(LC_CTYPE, nullptr);
    const QByteArray name = current ? QByteArray(current) : QByteArray();
    if (name.contains("UTF-8") || name.contains("utf8") || name.contains("UTF8"))
        return;
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        std::setlocale(LC_CTYPE, "C.utf8");
}

QStringList Names(CameraList *list)
{
    QStringList names;
    const int count = gp_list_count(list);
    for (int i = 0; i < count; ++i) {
        const char *name = nullptr;
        if (gp_list_get_name(list, i, &name) >= 0 && name)
            names << QString::fromUtf8(name);
    }
    return names;
}

class LibConnection : public GPhotoConnection
{
public:
    LibConnection(Camera *camera, GPContext *context) : camera_(camera), context_(context) {}
    ~LibConnection() override
    {
        Lock lock(LibraryMutex());
        gp_camera_exit(camera_, context_);
        gp_camera_unref(camera_);
        gp_context_unref(context_);
    }

    int Storages(std::vector<GPhotoStorage> &storages) override
    {
        Lock lock(LibraryMutex());
        CameraStorageInformation *info = nullptr;
        int count = 0;
        const int result = gp_camera_get_storageinfo(camera_, &info, &count, context_);
        if (result < 0)
            return result;
        for (int i = 0; i < count; ++i) {
            GPhotoStorage storage;
            if (info[i].fields & GP_STORAGEINFO_BASE)
                storage.baseDir = QString::fromUtf8(info[i].basedir);
            if (info[i].fields & GP_STORAGEINFO_LABEL)
                storage.label = QString::fromUtf8(info[i].label);
            if (info[i].fields & GP_STORAGEINFO_DESCRIPTION)
                storage.description = QString::fromUtf8(info[i].description);
            storages.push_back(storage);
        }
        free(info);
        return result;
    }

    int ListFolders(const QString &folder, QStringList &names) override { return List(folder, names, true); }
    int ListFiles(const QString &folder, QStringList &names) override { return List(folder, names, false); }

    int FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &out) override
    {
        Lock lock(LibraryMutex());
        CameraFileInfo info;
        std::memset(&info, 0, sizeof info);
        const int result = gp_camera_file_get_info(camera_, folder.toUtf8().constData(), name.toUtf8().constData(),
                                                   &info, context_);
        if (result < 0)
            return result;
        out.hasSize = info.file.fields & GP_FILE_INFO_SIZE;
        out.size = info.file.size;
        out.hasTime = info.file.fields & GP_FILE_INFO_MTIME;
        out.mtime = info.file.mtime;
        return result;
    }

    int Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
             std::uint64_t &size) override
    {
        Lock lock(LibraryMutex());
        return gp_camera_file_read(camera_, folder.toUtf8().constData(), name.toUtf8().constData(),
                                   GP_FILE_TYPE_NORMAL, offset, buffer, &size, context_);
    }

    int Delete(const QString &folder, const QString &name) override
    {
        Lock lock(LibraryMutex());
        return gp_camera_file_delete(camera_, folder.toUtf8().constData(), name.toUtf8().constData(), context_);
    }

    int ConfigText(const char *key, QString &value) override
    {
        Lock lock(LibraryMutex());
        CameraWidget *widget = nullptr;
        int result = gp_camera_get_single_config(camera_, key, &widget, context_);
        if (result < 0)
            return result;
        const char *text = nullptr;
        CameraWidgetType type;
        gp_widget_get_type(widget, &type);
        if (type == GP_WIDGET_TEXT || type == GP_WIDGET_RADIO || type == GP_WIDGET_MENU) {
            result = gp_widget_get_value(widget, &text);
            if (result >= 0 && text)
                value = QString::fromUtf8(text);
        } else {
            result = GP_ERROR_NOT_SUPPORTED;
        }
        gp_widget_free(widget);
        return result;
    }

private:
    int List(const QString &folder, QStringList &names, bool folders)
    {
        Lock lock(LibraryMutex());
        CameraList *list = nullptr;
        gp_list_new(&list);
        const QByteArray path = folder.toUtf8();
        const int result = folders ? gp_camera_folder_list_folders(camera_, path.constData(), list, context_)
                                   : gp_camera_folder_list_files(camera_, path.constData(), list, context_);
        if (result >= 0)
            names = Names(list);
        gp_list_free(list);
        return result;
    }

    Camera *camera_;
    GPContext *context_;
};

class LibApi : public GPhotoApi
{
public:
    int Detect(std::vector<GPhotoCamera> &cameras) override
    {
        Lock lock(LibraryMutex());
        EnsureUtf8CType();
        GPContext *context = gp_context_new();
        CameraList *list = nullptr;
        gp_list_new(&list);
        const int result = gp_camera_autodetect(list, context);
        if (result >= 0) {
            for (int i = 0; i < gp_list_count(list); ++i) {
                const char *model = nullptr;
                const char *port = nullptr;
                gp_list_get_name(list, i, &model);
                gp_list_get_value(list, i, &port);
                if (model && port)
                    cameras.push_back({QString::fromUtf8(model), QString::fromUtf8(port)});
            }
        }
        gp_list_free(list);
        gp_context_unref(context);
        return result;
    }

    int Open(const GPhotoCamera &wanted, std::unique_ptr<GPhotoConnection> &connection) override
    {
        Lock lock(LibraryMutex());
        EnsureUtf8CType();
        GPContext *context = gp_context_new();
        Camera *camera = nullptr;
        int result = gp_camera_new(&camera);
        CameraAbilitiesList *abilitiesList = nullptr;
        GPPortInfoList *ports = nullptr;
        if (result >= 0)
            result = gp_abilities_list_new(&abilitiesList);
        if (result >= 0)
            result = gp_abilities_list_load(abilitiesList, context);
        int model = -1;
        if (result >= 0)
            result = model = gp_abilities_list_lookup_model(abilitiesList, wanted.model.toUtf8().constData());
        CameraAbilities abilities;
        if (result >= 0)
            result = gp_abilities_list_get_abilities(abilitiesList, model, &abilities);
        if (result >= 0)
            result = gp_camera_set_abilities(camera, abilities);
        if (result >= 0)
            result = gp_port_info_list_new(&ports);
        if (result >= 0)
            result = gp_port_info_list_load(ports);
        int port = -1;
        if (result >= 0)
            result = port = gp_port_info_list_lookup_path(ports, wanted.port.toUtf8().constData());
        GPPortInfo info;
        if (result >= 0)
            result = gp_port_info_list_get_info(ports, port, &info);
        if (result >= 0)
            result = gp_camera_set_port_info(camera, info);
        if (result >= 0)
            result = gp_camera_init(camera, context);
        if (abilitiesList)
            gp_abilities_list_free(abilitiesList);
        if (ports)
            gp_port_info_list_free(ports);
        if (result < 0) {
            if (camera)
                gp_camera_unref(camera);
            gp_context_unref(context);
            return result;
        }
        connection = std::make_unique<LibConnection>(camera, context);
        return GP_OK;
    }
};

} // namespace

std::shared_ptr<GPhotoApi> CreateLibGPhotoApi()
{
    return std::make_shared<LibApi>();
}
