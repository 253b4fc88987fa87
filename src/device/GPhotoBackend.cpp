#include "GPhotoBackend.h"

#include <QDateTime>
#include <QHash>

#include <chrono>

namespace {

const QString kPrefix = QStringLiteral("gphoto2:");
constexpr int kGpErrorIo = -7;

// libgphoto2's input/output and USB failures (-7, -10 timeout, -30 to -60):
// the connection is in doubt after them.
bool IsConnectionFailure(int result)
{
    return result == kGpErrorIo || result == -10 || (result <= -30 && result >= -60);
}

// Splits "Canon EOS 80D" into maker and model.
std::pair<QString, QString> SplitModel(const QString &model)
{
    const QString trimmed = model.trimmed();
    const qsizetype space = trimmed.indexOf(QLatin1Char(' '));
    if (space < 0)
        return {trimmed, QString()};
    return {trimmed.left(space), trimmed.mid(space + 1)};
}

std::pair<QString, QString> SplitPath(const QString &objectId)
{
    const qsizetype slash = objectId.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash <= 0 ? QStringLiteral("/") : objectId.left(slash);
    return {folder, objectId.mid(slash + 1)};
}

class GPhotoSession;

class GPhotoStream : public IStream
{
public:
    GPhotoStream(std::shared_ptr<GPhotoSession> session, QString objectId, std::uint64_t size, bool sizeKnown)
        : session_(std::move(session)), objectId_(std::move(objectId)), size_(size), reader_(size, sizeKnown)
    {
    }
    ~GPhotoStream() override;
    void Adopt(std::shared_ptr<ReadPiece> piece) { reader_.Adopt(std::move(piece)); }
    void Reuse(std::shared_ptr<ReadPiece> spare) { reader_.Reuse(std::move(spare)); }

    HRESULT Seek(std::int64_t offset, SeekOrigin origin, std::uint64_t *newPosition) override
    {
        std::int64_t base = origin == STREAM_SEEK_CUR   ? std::int64_t(position_)
                            : origin == STREAM_SEEK_END ? std::int64_t(size_)
                                                        : 0;
        if (base + offset < 0)
            return E_INVALIDARG;
        position_ = std::uint64_t(base + offset);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }

    HRESULT Read(void *buffer, std::uint32_t count, std::uint32_t *read) override;

private:
    std::shared_ptr<GPhotoSession> session_;
    QString objectId_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    ReadAhead reader_;
    bool failed_ = false;
};

// The maker and model a camera reports itself, falling back to the
// library's name for it.
std::pair<QString, QString> ReportedName(GPhotoConnection *connection, const GPhotoCamera &camera)
{
    auto [maker, model] = SplitModel(camera.model);
    QString text;
    if (connection && connection->ConfigText("manufacturer", text) >= 0 && !text.trimmed().isEmpty())
        maker = text.trimmed();
    text.clear();
    if (connection && connection->ConfigText("cameramodel", text) >= 0 && !text.trimmed().isEmpty())
        model = text.trimmed();
    return {maker, model};
}

class GPhotoSession : public DeviceSession, public std::enable_shared_from_this<GPhotoSession>
{
public:
    GPhotoSession(std::shared_ptr<GPhotoApi> api, std::shared_ptr<GPhotoLink> link)
        : api_(std::move(api)), link_(std::move(link)), camera_(link_->camera)
    {
    }

    HRESULT DeviceValues(PortableDeviceValues &values) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        HRESULT hr = Connect();
        if (FAILED(hr))
            return hr;
        GPhotoConnection *connection = link_->connection.get();
        const auto [maker, model] = ReportedName(connection, camera_);
        QString text;
        const GPhotoKind kind = connection->Kind();
        values.SetUnsignedIntegerValue(WPD_DEVICE_TYPE, kind == GPhotoKind::Phone         ? WPD_DEVICE_TYPE_PHONE
                                                        : kind == GPhotoKind::MediaPlayer ? WPD_DEVICE_TYPE_MEDIA_PLAYER
                                                                                          : WPD_DEVICE_TYPE_CAMERA);
        values.SetStringValue(WPD_DEVICE_MANUFACTURER, maker);
        values.SetStringValue(WPD_DEVICE_MODEL, model);
        values.SetStringValue(WPD_DEVICE_FRIENDLY_NAME, camera_.model);
        values.SetStringValue(WPD_OBJECT_NAME, camera_.model);
        if (connection->ConfigText("serialnumber", text) >= 0 && !text.trimmed().isEmpty())
            values.SetStringValue(WPD_DEVICE_SERIAL_NUMBER, text);
        text.clear();
        if (connection->ConfigText("batterylevel", text) >= 0) {
            // "50%", sometimes "50" or "Full"; only a number is a level.
            QString digits;
            for (QChar c : text)
                if (c.isDigit())
                    digits += c;
            bool ok = false;
            const uint level = digits.toUInt(&ok);
            if (ok && level <= 100)
                values.SetUnsignedIntegerValue(WPD_DEVICE_POWER_LEVEL, level);
        }
        return S_OK;
    }

    HRESULT Children(const QString &parentId, QStringList &childIds) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        childIds.clear();
        HRESULT hr = Connect();
        if (FAILED(hr))
            return hr;
        if (parentId == QLatin1String("DEVICE")) {
            std::vector<GPhotoStorage> storages;
            const int result = link_->connection->Storages(storages);
            if (result < 0)
                return FailedOrGone(result);
            for (const GPhotoStorage &storage : storages) {
                if (storage.baseDir.isEmpty())
                    continue;
                childIds << storage.baseDir;
                kinds_.insert(storage.baseDir, Kind::Storage);
                storageNames_.insert(storage.baseDir, !storage.description.isEmpty() ? storage.description
                                                      : !storage.label.isEmpty()     ? storage.label
                                                                                     : storage.baseDir.mid(1));
            }
            return S_OK;
        }
        if (kinds_.value(parentId, Kind::Folder) == Kind::File)
            return S_OK;  // a file has no children
        std::vector<GPhotoEntry> entries;
        const int result = link_->connection->List(parentId, entries);
        if (result < 0)
            return FailedOrGone(result);
        // Files first, then folders, as cameras list them; a listing that
        // brings sizes and dates saves asking for each file.
        childIds.reserve(qsizetype(entries.size()));
        for (const GPhotoEntry &entry : entries) {
            const QString id = parentId + QLatin1Char('/') + entry.name;
            kinds_.insert(id, entry.isFolder ? Kind::Folder : Kind::File);
            if (entry.hasInfo)
                infos_.insert(id, entry.info);
            else
                infos_.remove(id);
            childIds << id;
        }
        return S_OK;
    }

    HRESULT Info(const QString &objectId, ObjectInfo &info) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        const auto kind = kinds_.constFind(objectId);
        if (kind == kinds_.constEnd())
            return E_NOT_FOUND;
        info = ObjectInfo{};
        const auto [folder, name] = SplitPath(objectId);
        if (*kind == Kind::Storage) {
            info.name = storageNames_.value(objectId);
            info.isStorage = true;
            info.contentType = ContentTypeGuid(QStringLiteral("FUNCTIONAL_OBJECT"));
            info.dateCreated = QString::fromLatin1(kUnknownWpdDate);
            return S_OK;
        }
        info.name = name;
        info.originalFileName = name;
        info.dateCreated = QString::fromLatin1(kUnknownWpdDate);
        if (*kind == Kind::Folder) {
            info.contentType = ContentTypeGuid(QStringLiteral("FOLDER"));
            return S_OK;
        }
        GPhotoFileInfo file;
        if (const auto known = infos_.constFind(objectId); known != infos_.constEnd()) {
            file = *known;
        } else {
            HRESULT hr = Connect();
            if (FAILED(hr))
                return hr;
            const int result = link_->connection->FileInfo(folder, name, file);
            if (result < 0)
                return FailedOrGone(result);
        }
        info.contentType = ContentTypeForFileName(name);
        info.size = file.hasSize ? file.size : 0;
        info.sizeKnown = file.hasSize;
        if (file.hasTime && file.mtime > 0)
            info.dateCreated = WpdDateText(file.mtime, 0, file.wallClock);
        sizes_.insert(objectId, {info.size, info.sizeKnown});
        return S_OK;
    }

    HRESULT OpenStream(const QString &objectId, std::shared_ptr<IStream> &stream) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        if (kinds_.value(objectId, Kind::Folder) != Kind::File)
            return E_NOT_FOUND;
        if (!sizes_.contains(objectId)) {
            ObjectInfo info;
            const HRESULT hr = Info(objectId, info);
            if (FAILED(hr))
                return hr;
        }
        const auto [size, sizeKnown] = sizes_.value(objectId);
        auto opened = std::make_shared<GPhotoStream>(shared_from_this(), objectId, size, sizeKnown);
        // What a reader of this file left unread (the date reader reads the
        // start of a file just before it is copied) is read once.
        if (leftover_ && leftoverId_ == objectId)
            opened->Adopt(std::move(leftover_));
        else if (spare_)
            opened->Reuse(std::move(spare_));
        leftover_.reset();
        spare_.reset();
        stream = std::move(opened);
        return S_OK;
    }

    HRESULT OpenThumbnail(const QString &objectId, std::shared_ptr<IStream> &stream) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        if (kinds_.value(objectId, Kind::Folder) != Kind::File)
            return E_NOT_FOUND;
        HRESULT hr = Connect();
        if (FAILED(hr))
            return hr;
        const auto [folder, name] = SplitPath(objectId);
        QByteArray bytes;
        const int result = link_->connection->Thumbnail(folder, name, bytes);
        if (result == GPhotoConnection::kNotSupported)
            return E_NOT_SUPPORTED;
        if (result < 0) {
            // A file the camera keeps no thumbnail of answers with an error
            // too; only a broken connection is worth opening the camera anew.
            if (IsConnectionFailure(result))
                return Failed(result);
            SetDeviceErrorMessage(HRESULT(result), link_->connection->LastError());
            return HRESULT(result);
        }
        stream = MakeMemoryStream(std::move(bytes));
        return S_OK;
    }

    HRESULT Delete(const QString &objectId) override
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        HRESULT hr = Connect();
        if (FAILED(hr))
            return hr;
        const auto [folder, name] = SplitPath(objectId);
        const int result = link_->connection->Delete(folder, name);
        if (result < 0)
            return Failed(result);
        kinds_.remove(objectId);
        sizes_.remove(objectId);
        infos_.remove(objectId);
        leftover_.reset();
        return S_OK;
    }

    HRESULT ReadAt(const QString &objectId, std::uint64_t offset, char *buffer, std::uint64_t &size)
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        HRESULT hr = Connect();
        if (FAILED(hr))
            return hr;
        const auto [folder, name] = SplitPath(objectId);
        const auto start = std::chrono::steady_clock::now();
        const int result = link_->connection->Read(folder, name, offset, buffer, size);
        if (result < 0)
            return Failed(result);
        link_->pace.Measured(size, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        return S_OK;
    }

    std::uint64_t PieceBytes()
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        return link_->pace.PieceBytes();
    }

    // A closed stream's piece that it had not read to its end.
    void KeepLeftover(const QString &objectId, std::shared_ptr<ReadPiece> piece)
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        leftoverId_ = objectId;
        leftover_ = std::move(piece);
    }
    // A closed stream's memory, for the next file.
    void KeepSpare(std::shared_ptr<ReadPiece> piece)
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        if (piece && (!spare_ || spare_->capacity < piece->capacity))
            spare_ = std::move(piece);
    }

    // After a failure the camera is opened afresh: a half-done transfer
    // leaves the library's session unusable. The library's words for the
    // failure go with its code.
    HRESULT Failed(int result)
    {
        std::lock_guard<std::recursive_mutex> lock(link_->mutex);
        SetDeviceErrorMessage(HRESULT(result), link_->connection ? link_->connection->LastError() : QString());
        link_->connection.reset();
        leftover_.reset();
        return HRESULT(result);
    }

private:
    enum class Kind { Storage, Folder, File };

    // A listing that fails is that folder's trouble only while the camera
    // can still be opened; otherwise the camera is gone.
    HRESULT FailedOrGone(int result)
    {
        const HRESULT code = Failed(result);
        const QString said = DeviceErrorMessage(code);
        const HRESULT again = Connect();
        if (FAILED(again))
            return again;
        SetDeviceErrorMessage(code, said);
        return code;
    }

    HRESULT Connect()
    {
        if (link_->connection)
            return S_OK;
        const int result = api_->Open(camera_, link_->connection);
        if (result >= 0)
            return S_OK;
        // It opened before; that it will not now means it went away (or
        // another program took it).
        SetDeviceErrorMessage(E_DEVICE_NOT_CONNECTED, api_->LastError());
        return E_DEVICE_NOT_CONNECTED;
    }

    std::shared_ptr<GPhotoApi> api_;
    std::shared_ptr<GPhotoLink> link_;
    GPhotoCamera camera_;
    QHash<QString, Kind> kinds_;
    QHash<QString, QString> storageNames_;
    QHash<QString, std::pair<std::uint64_t, bool>> sizes_;  // size, and whether the device listed one
    QHash<QString, GPhotoFileInfo> infos_;                  // from listings that brought them
    QString leftoverId_;
    std::shared_ptr<ReadPiece> leftover_;
    std::shared_ptr<ReadPiece> spare_;  // the memory of the last file read (at most a piece)
};

GPhotoStream::~GPhotoStream()
{
    if (auto unread = reader_.Unread(position_); unread && !failed_)
        session_->KeepLeftover(objectId_, std::move(unread));
    else
        session_->KeepSpare(reader_.Release());
}

HRESULT GPhotoStream::Read(void *buffer, std::uint32_t count, std::uint32_t *read)
{
    ClearDeviceErrorMessage();
    if (read)
        *read = 0;
    // The device is asked even at or past the size it declared: an object
    // longer than that gives its further bytes, and only the device's
    // answer marks the end.
    std::uint32_t got = 0;
    HRESULT failure = S_OK;
    const auto fetch = [this](std::uint64_t offset, char *into, std::uint64_t &size) {
        return session_->ReadAt(objectId_, offset, into, size);
    };
    switch (reader_.Read(position_, static_cast<char *>(buffer), count, got, session_->PieceBytes(), fetch, failure)) {
    case ReadAhead::Result::Failed: failed_ = true; return failure;
    case ReadAhead::Result::BrokenOff: failed_ = true; return session_->Failed(kGpErrorIo);
    case ReadAhead::Result::Ok: break;
    }
    position_ += got;
    if (read)
        *read = got;
    return S_OK;
}

}  // namespace

GPhotoBackend::GPhotoBackend(std::shared_ptr<GPhotoApi> api) : api_(std::move(api))
{
}

QString GPhotoBackend::DeviceIdFor(const QString &port)
{
    return kPrefix + port;
}

bool GPhotoBackend::Owns(const QString &deviceId) const
{
    return deviceId.startsWith(kPrefix);
}

std::shared_ptr<GPhotoLink> GPhotoBackend::LinkFor(const GPhotoCamera &camera)
{
    auto known = links_.find(camera.port);
    if (known != links_.end()) {
        if (auto link = known->second.lock(); link && link->camera.model == camera.model)
            return link;
    }
    auto link = std::make_shared<GPhotoLink>();
    link->camera = camera;
    links_[camera.port] = link;
    return link;
}

HRESULT GPhotoBackend::Enumerate(std::vector<DeviceEntry> &devices)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<GPhotoCamera> cameras;
    const int result = api_->Detect(cameras);
    if (result < 0) {
        SetDeviceErrorMessage(HRESULT(result), api_->LastError());
        return HRESULT(result);
    }
    detected_.clear();
    std::vector<std::shared_ptr<GPhotoLink>> scanned;
    for (const GPhotoCamera &camera : cameras) {
        // Memory cards come through the file system instead.
        if (!camera.port.startsWith(QStringLiteral("usb:")))
            continue;
        detected_.push_back(camera);
        std::shared_ptr<GPhotoLink> link = LinkFor(camera);
        std::lock_guard<std::recursive_mutex> cameraLock(link->mutex);
        // A camera that will not open now keeps the library's name; opening
        // it for the serial number then says why.
        if (!link->connection && api_->Open(camera, link->connection) < 0)
            link->connection.reset();
        const auto [maker, model] = ReportedName(link->connection.get(), camera);
        devices.push_back({DeviceIdFor(camera.port), maker, model, camera.model});
        scanned.push_back(std::move(link));
    }
    scanned_ = std::move(scanned);
    return S_OK;
}

HRESULT GPhotoBackend::Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const QString port = deviceId.mid(kPrefix.size());
    auto find = [&]() -> const GPhotoCamera * {
        for (const GPhotoCamera &camera : detected_)
            if (camera.port == port)
                return &camera;
        return nullptr;
    };
    std::shared_ptr<GPhotoLink> link;
    if (auto known = links_.find(port); known != links_.end())
        link = known->second.lock();
    if (!link) {
        if (!find()) {
            std::vector<GPhotoCamera> cameras;
            if (api_->Detect(cameras) >= 0)
                for (const GPhotoCamera &camera : cameras)
                    if (camera.port.startsWith(QStringLiteral("usb:")))
                        detected_.push_back(camera);
        }
        const GPhotoCamera *camera = find();
        if (!camera)
            return E_DEVICE_NOT_CONNECTED;
        link = LinkFor(*camera);
    }
    {
        std::lock_guard<std::recursive_mutex> cameraLock(link->mutex);
        if (!link->connection) {
            const int result = api_->Open(link->camera, link->connection);
            if (result < 0) {
                link->connection.reset();
                SetDeviceErrorMessage(HRESULT(result), api_->LastError());
                return HRESULT(result);
            }
        }
    }
    session = std::make_shared<GPhotoSession>(api_, std::move(link));
    return S_OK;
}
