// The real libgphoto2 calls. Kept thin: everything with logic in it lives in
// GPhotoBackend.cpp, which is tested against a fake of GPhotoApi.

#include "device/GPhotoApi.h"
#include "device/PtpConnection.h"

#include "base/FileNames.h"

#include <gphoto2/gphoto2-port.h>
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
            names << nameFromBytes(name);
    }
    return names;
}

// A context that keeps what the library says when something fails: the
// result codes alone lose "PTP General Error", the errno text and the like.
class Context
{
public:
    Context() : context_(gp_context_new()) { gp_context_set_error_func(context_, &Context::OnError, this); }
    ~Context()
    {
        gp_context_set_error_func(context_, nullptr, nullptr);
        gp_context_unref(context_);
    }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    GPContext *get() { return context_; }
    // Before each call.
    void Begin() { said_.clear(); }
    // After it: the library's words when it failed.
    int End(int result)
    {
        if (result < 0) {
            last_ = said_.join(QStringLiteral("; "));
            if (last_.isEmpty())
                last_ = QString::fromUtf8(gp_result_as_string(result));
        }
        return result;
    }
    QString Last() const { return last_; }

private:
    static void OnError(GPContext *, const char *text, void *data)
    {
        auto *self = static_cast<Context *>(data);
        const QString said = QString::fromUtf8(text).trimmed();
        if (!said.isEmpty() && !self->said_.contains(said))
            self->said_ << said;
    }

    GPContext *context_;
    QStringList said_;
    QString last_;
};

class LibConnection : public GPhotoConnection
{
public:
    LibConnection(Camera *camera, std::unique_ptr<Context> context) : camera_(camera), context_(std::move(context)) {}
    ~LibConnection() override
    {
        Lock lock(LibraryMutex());
        gp_camera_exit(camera_, context_->get());
        gp_camera_unref(camera_);
    }

    QString LastError() const override
    {
        Lock lock(LibraryMutex());
        return context_->Last();
    }

    int Storages(std::vector<GPhotoStorage> &storages) override
    {
        Lock lock(LibraryMutex());
        CameraStorageInformation *info = nullptr;
        int count = 0;
        context_->Begin();
        const int result = context_->End(gp_camera_get_storageinfo(camera_, &info, &count, context_->get()));
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

    int ListFolders(const QString &folder, QStringList &names) override { return ListNames(folder, names, true); }
    int ListFiles(const QString &folder, QStringList &names) override { return ListNames(folder, names, false); }

    int FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &out) override
    {
        Lock lock(LibraryMutex());
        CameraFileInfo info;
        std::memset(&info, 0, sizeof info);
        context_->Begin();
        const int result = context_->End(gp_camera_file_get_info(
            camera_, nameToBytes(folder).constData(), nameToBytes(name).constData(), &info, context_->get()));
        if (result < 0)
            return result;
        // The driver takes a file's size from the object information's 32
        // bits unless the camera tells it the 64-bit size: 0xFFFFFFFF there
        // means "4 GiB or more", a size nobody knows.
        out.hasSize = (info.file.fields & GP_FILE_INFO_SIZE) && info.file.size != 0xFFFFFFFFu;
        out.size = info.file.size;
        out.hasTime = info.file.fields & GP_FILE_INFO_MTIME;
        out.mtime = info.file.mtime;
        return result;
    }

    int Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
             std::uint64_t &size) override
    {
        Lock lock(LibraryMutex());
        const QByteArray folderBytes = nameToBytes(folder);
        const QByteArray nameBytes = nameToBytes(name);
        context_->Begin();
        const int result =
            context_->End(gp_camera_file_read(camera_, folderBytes.constData(), nameBytes.constData(),
                                              GP_FILE_TYPE_NORMAL, offset, buffer, &size, context_->get()));
        // The driver answers a read at or past the size it listed by itself
        // (0 bytes), and one of a file it listed as empty with "not
        // supported": for that file, the empty answer it means.
        if (result == GP_ERROR_NOT_SUPPORTED) {
            CameraFileInfo info;
            std::memset(&info, 0, sizeof info);
            if (gp_camera_file_get_info(camera_, folderBytes.constData(), nameBytes.constData(), &info,
                                        context_->get()) >= 0 &&
                (info.file.fields & GP_FILE_INFO_SIZE) && info.file.size == 0) {
                size = 0;
                return GP_OK;
            }
        }
        return result;
    }

    int Delete(const QString &folder, const QString &name) override
    {
        Lock lock(LibraryMutex());
        context_->Begin();
        return context_->End(gp_camera_file_delete(camera_, nameToBytes(folder).constData(),
                                                   nameToBytes(name).constData(), context_->get()));
    }

    int Thumbnail(const QString &folder, const QString &name, QByteArray &data) override
    {
        // A thumbnail is a few kilobytes; anything near this is no thumbnail.
        constexpr unsigned long kMaxThumbnailBytes = 8u << 20;
        Lock lock(LibraryMutex());
        CameraFile *file = nullptr;
        int result = gp_file_new(&file);
        if (result < 0)
            return result;
        context_->Begin();
        result =
            context_->End(gp_camera_file_get(camera_, nameToBytes(folder).constData(), nameToBytes(name).constData(),
                                             GP_FILE_TYPE_PREVIEW, file, context_->get()));
        const char *bytes = nullptr;
        unsigned long size = 0;
        if (result >= 0)
            result = gp_file_get_data_and_size(file, &bytes, &size);
        if (result >= 0 && (size == 0 || size > kMaxThumbnailBytes || !bytes))
            result = GP_ERROR_CORRUPTED_DATA;
        if (result >= 0)
            data = QByteArray(bytes, qsizetype(size));
        gp_file_unref(file);
        return result;
    }

    int ConfigText(const char *key, QString &value) override
    {
        Lock lock(LibraryMutex());
        CameraWidget *widget = nullptr;
        // A camera without this setting is no failure worth telling of.
        context_->Begin();
        int result = gp_camera_get_single_config(camera_, key, &widget, context_->get());
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
    int ListNames(const QString &folder, QStringList &names, bool folders)
    {
        Lock lock(LibraryMutex());
        CameraList *list = nullptr;
        gp_list_new(&list);
        const QByteArray path = nameToBytes(folder);
        context_->Begin();
        const int result =
            context_->End(folders ? gp_camera_folder_list_folders(camera_, path.constData(), list, context_->get())
                                  : gp_camera_folder_list_files(camera_, path.constData(), list, context_->get()));
        if (result >= 0)
            names = Names(list);
        gp_list_free(list);
        return result;
    }

    Camera *camera_;
    std::unique_ptr<Context> context_;
};

// libgphoto2's port to one USB device, for the PTP spoken directly.
class LibPort : public PtpPort
{
public:
    ~LibPort() override
    {
        Lock lock(LibraryMutex());
        if (open_)
            gp_port_close(port_);
        if (port_)
            gp_port_free(port_);
    }

    // Finds the device by its USB ids (or its class) and claims it.
    int Open(GPPortInfo info, const CameraAbilities &abilities)
    {
        Lock lock(LibraryMutex());
        int result = gp_port_new(&port_);
        if (result >= 0)
            result = gp_port_set_info(port_, info);
        if (result >= 0 && gp_port_usb_find_device(port_, abilities.usb_vendor, abilities.usb_product) < GP_OK)
            result = gp_port_usb_find_device_by_class(port_, abilities.usb_class, abilities.usb_subclass,
                                                      abilities.usb_protocol);
        if (result >= 0)
            result = gp_port_set_timeout(port_, 8000);
        if (result >= 0)
            result = gp_port_open(port_);
        open_ = result >= 0;
        return result;
    }

    int Write(const char *data, int size) override
    {
        Lock lock(LibraryMutex());
        return gp_port_write(port_, data, size);
    }
    int Read(char *data, int size) override
    {
        Lock lock(LibraryMutex());
        return gp_port_read(port_, data, size);
    }
    int MaxPacketSize() const override
    {
        Lock lock(LibraryMutex());
        GPPortSettings settings;
        if (gp_port_get_settings(port_, &settings) < GP_OK || settings.usb.maxpacketsize <= 0)
            return 512;
        return settings.usb.maxpacketsize;
    }
    void SetTimeout(int milliseconds) override
    {
        Lock lock(LibraryMutex());
        gp_port_set_timeout(port_, milliseconds);
    }
    bool Reset() override
    {
        Lock lock(LibraryMutex());
        GPPortSettings settings;
        if (gp_port_get_settings(port_, &settings) < GP_OK)
            return false;
        // PTP's "Device Reset Request" to the interface.
        return gp_port_usb_msg_class_write(port_, 0x66, 0, settings.usb.interface, nullptr, 0) >= GP_OK;
    }
    QString LastError() const override
    {
        Lock lock(LibraryMutex());
        const char *text = port_ ? gp_port_get_error(port_) : nullptr;
        return text ? QString::fromUtf8(text).trimmed() : QString();
    }

private:
    GPPort *port_ = nullptr;
    bool open_ = false;
};

// Every USB device that libgphoto2 reaches through its PTP driver (cameras,
// phones, media players) is spoken to directly: reading files needs
// nothing beyond PTP. The driver stays for the devices its other drivers
// reach, and for a camera that will not open a session of ours.
bool SpokenDirectly(const CameraAbilities &abilities)
{
    return (abilities.port & GP_PORT_USB) && std::strstr(abilities.library, "ptp2");
}

// Phones and players were spoken to directly before cameras were: only a
// camera falls back to the driver, which knows each maker's ways of opening.
bool DriverMayOpen(const CameraAbilities &abilities)
{
    return !(abilities.device_type & GP_DEVICE_AUDIO_PLAYER) && abilities.usb_vendor != 0x05ac;
}

class LibApi : public GPhotoApi
{
public:
    ~LibApi() override
    {
        Lock lock(LibraryMutex());
        if (abilities_)
            gp_abilities_list_free(abilities_);
        if (ports_)
            gp_port_info_list_free(ports_);
    }

    QString LastError() const override
    {
        Lock lock(LibraryMutex());
        return last_;
    }

    // What gp_camera_autodetect does, keeping the port list for the opens
    // that follow within the same scan, and the camera drivers for good:
    // loading either costs more than the detection itself.
    int Detect(std::vector<GPhotoCamera> &cameras) override
    {
        Lock lock(LibraryMutex());
        EnsureUtf8CType();
        Context context;
        int result = LoadPorts();
        if (result >= 0)
            result = LoadAbilities(context);
        CameraList *list = nullptr;
        gp_list_new(&list);
        if (result >= 0) {
            context.Begin();
            result = context.End(gp_abilities_list_detect(abilities_, ports_, list, context.get()));
        }
        if (result >= 0) {
            for (int i = 0; i < gp_list_count(list); ++i) {
                const char *model = nullptr;
                const char *port = nullptr;
                gp_list_get_name(list, i, &model);
                gp_list_get_value(list, i, &port);
                // The bare "usb:" entry is the generic port, not a camera.
                if (model && port && std::strcmp(port, "usb:") != 0)
                    cameras.push_back({QString::fromUtf8(model), QString::fromUtf8(port)});
            }
        }
        gp_list_free(list);
        last_ = result < 0 ? Said(context, result) : QString();
        return result;
    }

    int Open(const GPhotoCamera &wanted, std::unique_ptr<GPhotoConnection> &connection) override
    {
        Lock lock(LibraryMutex());
        EnsureUtf8CType();
        auto context = std::make_unique<Context>();
        Camera *camera = nullptr;
        int result = gp_camera_new(&camera);
        if (result >= 0)
            result = LoadAbilities(*context);
        int model = -1;
        if (result >= 0)
            result = model = gp_abilities_list_lookup_model(abilities_, wanted.model.toUtf8().constData());
        CameraAbilities abilities;
        if (result >= 0)
            result = gp_abilities_list_get_abilities(abilities_, model, &abilities);
        if (result >= 0)
            result = gp_camera_set_abilities(camera, abilities);
        int port = -1;
        if (result >= 0) {
            // A camera plugged in since the last scan is not in the list yet.
            if (!ports_ || gp_port_info_list_lookup_path(ports_, wanted.port.toUtf8().constData()) < 0)
                result = LoadPorts();
            if (result >= 0)
                result = port = gp_port_info_list_lookup_path(ports_, wanted.port.toUtf8().constData());
        }
        GPPortInfo info;
        if (result >= 0)
            result = gp_port_info_list_get_info(ports_, port, &info);
        if (result >= 0 && SpokenDirectly(abilities)) {
            bool sessionRefused = false;
            result = OpenDirect(info, abilities, connection, sessionRefused);
            if (result >= 0 || !sessionRefused || !DriverMayOpen(abilities)) {
                gp_camera_unref(camera);
                return result;
            }
            result = GP_OK;
        }
        if (result >= 0)
            result = gp_camera_set_port_info(camera, info);
        if (result >= 0) {
            context->Begin();
            result = context->End(gp_camera_init(camera, context->get()));
        }
        if (result < 0) {
            last_ = Said(*context, result);
            if (camera)
                gp_camera_unref(camera);
            return result;
        }
        last_.clear();
        connection = std::make_unique<LibConnection>(camera, std::move(context));
        return GP_OK;
    }

private:
    // sessionRefused: the port opened, but the device would not start a
    // session or describe itself.
    int OpenDirect(GPPortInfo info, const CameraAbilities &abilities, std::unique_ptr<GPhotoConnection> &connection,
                   bool &sessionRefused)
    {
        auto port = std::make_unique<LibPort>();
        int result = port->Open(info, abilities);
        if (result < 0) {
            last_ = port->LastError();
            if (last_.isEmpty())
                last_ = QString::fromUtf8(gp_result_as_string(result));
            return result;
        }
        const GPhotoKind kind =
            (abilities.device_type & GP_DEVICE_AUDIO_PLAYER) ? GPhotoKind::MediaPlayer : GPhotoKind::Camera;
        auto direct = std::make_unique<PtpConnection>(std::move(port), abilities.usb_vendor, kind);
        result = direct->Start();
        if (result < 0) {
            last_ = direct->LastError();
            sessionRefused = true;
            return result;
        }
        last_.clear();
        connection = std::move(direct);
        return GP_OK;
    }

    static QString Said(const Context &context, int result)
    {
        const QString said = context.Last();
        return said.isEmpty() ? QString::fromUtf8(gp_result_as_string(result)) : said;
    }

    int LoadPorts()
    {
        if (ports_) {
            gp_port_info_list_free(ports_);
            ports_ = nullptr;
        }
        int result = gp_port_info_list_new(&ports_);
        if (result >= 0)
            result = gp_port_info_list_load(ports_);
        if (result < 0 && ports_) {
            gp_port_info_list_free(ports_);
            ports_ = nullptr;
        }
        return result;
    }

    int LoadAbilities(Context &context)
    {
        if (abilities_)
            return GP_OK;
        int result = gp_abilities_list_new(&abilities_);
        if (result >= 0) {
            context.Begin();
            result = context.End(gp_abilities_list_load(abilities_, context.get()));
        }
        if (result < 0 && abilities_) {
            gp_abilities_list_free(abilities_);
            abilities_ = nullptr;
        }
        return result;
    }

    CameraAbilitiesList *abilities_ = nullptr;
    GPPortInfoList *ports_ = nullptr;
    QString last_;
};

}  // namespace

std::shared_ptr<GPhotoApi> CreateLibGPhotoApi()
{
    return std::make_shared<LibApi>();
}
