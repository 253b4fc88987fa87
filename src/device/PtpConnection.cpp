#include "PtpConnection.h"

#include <QSet>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

// libgphoto2's result codes, as the rest of the backend knows them.
constexpr int kGpOk = 0;
constexpr int kGpError = -1;
constexpr int kGpBadParameters = -2;
constexpr int kGpNotSupported = -6;
constexpr int kGpIo = -7;
constexpr int kGpDirectoryNotFound = -107;
constexpr int kGpFileNotFound = -108;
constexpr int kGpCameraBusy = -110;

constexpr int kTimeoutMs = 20000;  // some devices take many seconds over a request
constexpr int kPacket = 512;       // what the first read of a phase asks for
// The most one later read of the port asks for: a whole piece of a file
// goes in one transfer (each costs the port a round of its own).
constexpr int kBlob = 64 * 1024 * 1024;
constexpr std::uint32_t kRootParent = 0xFFFFFFFF;  // "the storage's root" to GetObjectHandles
constexpr std::uint32_t kAllStorages = 0xFFFFFFFF;
constexpr std::uint32_t kAllProperties = 0xFFFFFFFF;
constexpr std::uint32_t kUntrustedStorage = 0xFEEDFACE;  // an iPhone that does not trust the computer yet

// A transaction's result: libgphoto2's codes for the port's failures, and
// below them the device's refusals, as minus the response code.
constexpr int Refusal(std::uint16_t code)
{
    return -int(code);
}
constexpr bool IsRefusal(int result)
{
    return result <= -0x1000;
}

QString StoragePath(std::uint32_t id)
{
    return QStringLiteral("/store_%1").arg(id, 8, 16, QLatin1Char('0'));
}

std::pair<QString, QString> Split(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return {slash <= 0 ? QString() : path.left(slash), path.mid(slash + 1)};
}

}  // namespace

PtpConnection::PtpConnection(std::unique_ptr<PtpPort> port, int usbVendor, GPhotoKind kind)
    : port_(std::move(port)), usbVendor_(usbVendor), kind_(kind)
{
}

PtpConnection::~PtpConnection()
{
    // Not over a pipe that failed: it would only wait for the time-out.
    if (sessionOpen_ && port_ && !broken_)
        Transaction(ptp::CloseSession, {}, nullptr);
}

int PtpConnection::PortFailed(int result)
{
    broken_ = true;
    lastError_ = port_->LastError();
    if (lastError_.isEmpty())
        lastError_ = QStringLiteral("The USB transfer failed (%1).").arg(result);
    pending_.clear();
    return result < 0 ? result : kGpIo;
}

int PtpConnection::Refused(int refusal)
{
    const std::uint16_t code = std::uint16_t(-refusal);
    lastError_ = ptp::ResponseText(code);
    switch (code) {
    case ptp::RcInvalidObjectHandle: return kGpFileNotFound;
    case ptp::RcDeviceBusy: return kGpCameraBusy;
    case ptp::RcOperationNotSupported: return kGpNotSupported;
    case ptp::RcInvalidStorageId:
    case ptp::RcStoreNotAvailable: return kGpDirectoryNotFound;
    default: return kGpError;
    }
}

int PtpConnection::ReadPacket(char *data, int size)
{
    if (!pending_.isEmpty()) {
        const int n = std::min<int>(size, int(pending_.size()));
        std::memcpy(data, pending_.constData(), std::size_t(n));
        pending_.remove(0, n);
        return n;
    }
    int got = port_->Read(data, size);
    // A zero-length packet left over from a phase that filled its last
    // packet: the container follows.
    if (got == 0)
        got = port_->Read(data, size);
    return got;
}

// The rest of a data phase whose first read brought `got` bytes.
int PtpConnection::ReadData(const char *first, int got, const ptp::ContainerHeader &header, Sink &sink)
{
    if (header.length < 12 || header.length == 0xFFFFFFFFu)
        return PortFailed(kGpIo);
    std::uint64_t payload = header.length - 12;
    if (std::uint64_t(got) > header.length) {  // the response came in the same read
        pending_.append(first + header.length, qsizetype(std::uint64_t(got) - header.length));
        got = int(header.length);
    }
    if (sink.array) {
        sink.array->clear();
        sink.array->reserve(qsizetype(payload));
        sink.array->append(first + 12, got - 12);
    } else {
        if (payload > sink.capacity)
            return PortFailed(kGpIo);
        std::memcpy(sink.buffer, first + 12, std::size_t(got - 12));
        sink.used = std::uint64_t(got - 12);
    }
    std::uint64_t left = header.length - std::uint64_t(got);
    const std::uint64_t packet = std::uint64_t(std::max(1, port_->MaxPacketSize()));
    while (left > 0) {
        // Whole packets in large reads, the short last one on its own, so
        // that no read runs past the end of the phase.
        std::uint64_t chunk = std::min<std::uint64_t>(left, kBlob);
        if (chunk > packet)
            chunk -= chunk % packet;
        char *into;
        if (sink.array) {
            const qsizetype at = sink.array->size();
            sink.array->resize(at + qsizetype(chunk));
            into = sink.array->data() + at;
        } else {
            into = sink.buffer + sink.used;
        }
        const int n = port_->Read(into, int(chunk));
        if (n <= 0) {
            if (sink.array)
                sink.array->resize(sink.array->size() - qsizetype(chunk));
            return PortFailed(n);
        }
        if (sink.array)
            sink.array->resize(sink.array->size() - qsizetype(chunk) + n);
        else
            sink.used += std::uint64_t(n);
        left -= std::min<std::uint64_t>(left, std::uint64_t(n));
    }
    return kGpOk;
}

int PtpConnection::TransactionInto(std::uint16_t code, const std::vector<std::uint32_t> &params, Sink *data,
                                   std::vector<std::uint32_t> *responseParams)
{
    ++transactions_;
    lastError_.clear();
    // OpenSession starts the count afresh.
    const std::uint32_t id = code == ptp::OpenSession ? 0 : transaction_;
    transaction_ = id + 1;
    const QByteArray command = ptp::PackCommand(code, id, params);
    const int wrote = port_->Write(command.constData(), int(command.size()));
    if (wrote != command.size())
        return PortFailed(wrote);

    char packet[kPacket];
    int got = ReadPacket(packet, kPacket);
    if (got < 0)
        return PortFailed(got);
    auto header = ptp::ParseHeader(packet, std::size_t(got));
    if (!header)
        return PortFailed(kGpIo);
    if (header->type == ptp::DataBlock) {
        if (!data) {
            // Data nobody asked for: read past it.
            QByteArray ignored;
            Sink sink;
            sink.array = &ignored;
            if (const int result = ReadData(packet, got, *header, sink); result < 0)
                return result;
        } else if (const int result = ReadData(packet, got, *header, *data); result < 0) {
            return result;
        }
        got = ReadPacket(packet, kPacket);
        if (got < 0)
            return PortFailed(got);
        header = ptp::ParseHeader(packet, std::size_t(got));
        if (!header)
            return PortFailed(kGpIo);
    } else if (data) {
        // No data phase (a refusal comes straight as the response).
        if (data->array)
            data->array->clear();
        data->used = 0;
    }
    if (header->type != ptp::ResponseBlock)
        return PortFailed(kGpIo);
    if (std::uint32_t(got) > header->length && header->length >= 12)
        pending_.append(packet + header->length, qsizetype(std::uint32_t(got) - header->length));
    if (responseParams)
        *responseParams = ptp::ResponseParams(packet, std::min<std::size_t>(std::size_t(got), header->length));
    if (header->code != ptp::RcOK)
        return Refusal(header->code);  // the caller turns it into a result with Refused
    return kGpOk;
}

int PtpConnection::Start()
{
    // As libgphoto2 opens a session: a session left open by a program that
    // ended without closing it is taken over; a device that answers
    // nonsense is reset, up to three tries.
    int result = kGpIo;
    for (int tries = 0; tries < 3; ++tries) {
        result = Transaction(ptp::OpenSession, {1}, nullptr);
        if (result == kGpOk || result == Refusal(ptp::RcSessionAlreadyOpened)) {
            result = kGpOk;
            break;
        }
        if (IsRefusal(result) || !port_->Reset())
            break;
    }
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    port_->SetTimeout(kTimeoutMs);
    sessionOpen_ = true;
    QByteArray data;
    result = Transaction(ptp::GetDeviceInfo, {}, &data);
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    const auto info = ptp::ParseDeviceInfo(data);
    if (!info) {
        lastError_ = QStringLiteral("The device described itself in a form that could not be read.");
        return kGpIo;
    }
    device_ = *info;
    return kGpOk;
}

GPhotoKind PtpConnection::Kind() const
{
    if (usbVendor_ == 0x05ac || device_.vendorExtensionDesc.contains(QLatin1String("android.com")))
        return GPhotoKind::Phone;
    return kind_;
}

int PtpConnection::ConfigText(const char *key, QString &value)
{
    const QByteArray k(key);
    if (k == "manufacturer")
        value = device_.manufacturer;
    else if (k == "cameramodel")
        value = device_.model;
    else if (k == "serialnumber")
        value = device_.serialNumber;
    else if (k == "deviceversion")
        value = device_.deviceVersion;
    else if (k == "batterylevel") {
        if (!device_.HasProperty(ptp::PropBatteryLevel))
            return kGpNotSupported;
        // The description tells the range a camera counts in (0 to 3, say);
        // the bare value is a percentage.
        QByteArray data;
        std::optional<int> percent;
        if (device_.Supports(ptp::GetDevicePropDesc)) {
            const int result = Transaction(ptp::GetDevicePropDesc, {ptp::PropBatteryLevel}, &data);
            if (result < 0 && !IsRefusal(result))
                return result;
            if (result == kGpOk)
                percent = ptp::ParseBatteryPercent(data);
        }
        if (!percent && device_.Supports(ptp::GetDevicePropValue)) {
            const int result = Transaction(ptp::GetDevicePropValue, {ptp::PropBatteryLevel}, &data);
            if (IsRefusal(result))
                return Refused(result);
            if (result < 0)
                return result;
            if (!data.isEmpty())
                percent = std::uint8_t(data.at(0));
        }
        if (!percent)
            return kGpNotSupported;
        value = QStringLiteral("%1%").arg(*percent);
    } else {
        return kGpNotSupported;
    }
    return kGpOk;
}

int PtpConnection::Storages(std::vector<GPhotoStorage> &storages)
{
    QByteArray data;
    int result = Transaction(ptp::GetStorageIDs, {}, &data);
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    bool ok = false;
    const std::vector<std::uint32_t> ids = ptp::ParseUint32Array(data, &ok);
    if (!ok)
        return PortFailed(kGpIo);
    storages.clear();
    for (std::uint32_t id : ids) {
        // No medium in that slot, or an iPhone still asking whether to
        // trust this computer: nothing to list.
        if ((id & 0xFFFF) == 0 || id == kUntrustedStorage)
            continue;
        GPhotoStorage storage;
        storage.baseDir = StoragePath(id);
        result = Transaction(ptp::GetStorageInfo, {id}, &data);
        if (result == kGpOk) {
            if (const auto info = ptp::ParseStorageInfo(data)) {
                storage.description = info->description;
                storage.label = info->label;
            }
        } else if (!IsRefusal(result)) {
            return result;  // the port failed
        }
        Object &root = objects_[storage.baseDir];
        root.storage = id;
        root.handle = 0;
        root.folder = true;
        storages.push_back(storage);
    }
    return kGpOk;
}

int PtpConnection::Find(const QString &path, Object *&object)
{
    auto it = objects_.find(path);
    if (it == objects_.end()) {
        if (path.count(QLatin1Char('/')) <= 1) {
            // A storage: known once the storages were listed.
            std::vector<GPhotoStorage> storages;
            if (const int result = Storages(storages); result < 0)
                return result;
            it = objects_.find(path);
            if (it == objects_.end())
                return kGpDirectoryNotFound;
        } else {
            const auto [folder, name] = Split(path);
            Object *parent = nullptr;
            if (const int result = Find(folder, parent); result < 0)
                return result;
            if (!parent->folder)
                return kGpDirectoryNotFound;
            if (!parent->listed)
                if (const int result = ListInto(folder, *parent, nullptr); result < 0)
                    return result;
            it = objects_.find(path);
            if (it == objects_.end())
                return kGpFileNotFound;
        }
    }
    object = &*it;
    return kGpOk;
}

int PtpConnection::ChildHandles(std::uint32_t storage, std::uint32_t parent, std::vector<std::uint32_t> &handles,
                                bool &everything)
{
    // As libgphoto2 does for a device that refuses a parameter: the same
    // folder of any storage, then every object of the device.
    everything = !listsByFolder_;
    QByteArray data;
    int result = kGpOk;
    if (listsByFolder_) {
        const std::uint32_t folder = parent ? parent : kRootParent;
        result = Transaction(ptp::GetObjectHandles, {storage, 0, folder}, &data);
        if (result == Refusal(ptp::RcParameterNotSupported))
            result = Transaction(ptp::GetObjectHandles, {kAllStorages, 0, folder}, &data);
        if (result == Refusal(ptp::RcParameterNotSupported)) {
            listsByFolder_ = false;
            everything = true;
        }
    }
    if (everything)
        result = Transaction(ptp::GetObjectHandles, {kAllStorages, 0, 0}, &data);
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    bool ok = false;
    handles = ptp::ParseUint32Array(data, &ok);
    return ok ? kGpOk : PortFailed(kGpIo);
}

int PtpConnection::Describe(std::uint32_t handle, ptp::ObjectEntry &entry, bool &sizeKnown)
{
    sizeKnown = true;
    QByteArray data;
    int result = Transaction(ptp::GetObjectInfo, {handle}, &data);
    if (result == Refusal(ptp::RcInvalidObjectHandle))
        return 1;
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    const auto info = ptp::ParseObjectInfo(handle, data);
    if (!info)
        return PortFailed(kGpIo);
    entry = *info;
    // The object information has 32 bits for the size: a file of 4 GiB or
    // more says 0xFFFFFFFF, and its real size is a property. A device that
    // will not give it leaves the size unknown.
    if (entry.size == 0xFFFFFFFFu && !entry.isFolder()) {
        sizeKnown = false;
        if (device_.Supports(ptp::MtpGetObjPropValue)) {
            result = Transaction(ptp::MtpGetObjPropValue, {handle, ptp::PropObjectSize}, &data);
            if (result < 0 && !IsRefusal(result))
                return result;  // the port failed
            if (result == kGpOk && data.size() >= 8) {
                entry.size = 0;
                for (int i = 7; i >= 0; --i)
                    entry.size = (entry.size << 8) | std::uint8_t(data.at(i));
                sizeKnown = true;
            }
        }
        if (!sizeKnown)
            entry.size = 0;
    }
    return kGpOk;
}

int PtpConnection::ListInto(const QString &folder, Object &parent, std::vector<GPhotoEntry> *entries)
{
    const std::uint32_t storage = parent.storage;
    const std::uint32_t parentHandle = parent.handle;
    std::vector<std::uint32_t> handles;
    bool everything = false;
    int result = ChildHandles(storage, parentHandle, handles, everything);
    if (result < 0)
        return result;

    // The properties of every child in one request, where the device
    // offers it; anything the list leaves out is asked for on its own.
    QHash<std::uint32_t, ptp::ObjectEntry> described;
    if (!everything && propListWorks_ && device_.Supports(ptp::MtpGetObjPropList) && handles.size() > 1) {
        QByteArray data;
        result = Transaction(ptp::MtpGetObjPropList, {parentHandle, 0, kAllProperties, 0, 1}, &data);
        if (result < 0 && !IsRefusal(result))
            return result;  // the port failed
        const auto list = result == kGpOk ? ptp::ParseObjectPropList(data) : std::nullopt;
        if (list) {
            described.reserve(qsizetype(list->size()));
            for (const ptp::ObjectEntry &entry : *list)
                described.insert(entry.handle, entry);
        } else {
            propListWorks_ = false;  // refused or garbled: not asked again
        }
    }

    QSet<QString> seen;
    std::vector<GPhotoEntry> files, folders;
    for (std::uint32_t handle : handles) {
        ptp::ObjectEntry entry;
        bool sizeKnown = true;
        if (auto at = described.constFind(handle); at != described.constEnd()) {
            entry = *at;
        } else if (auto known = described_.constFind(handle); everything && known != described_.constEnd()) {
            std::tie(entry, sizeKnown) = *known;
        } else {
            result = Describe(handle, entry, sizeKnown);
            if (result == 1)
                continue;  // gone since the handles were listed
            if (result < 0)
                return result;
            if (everything)
                described_.insert(handle, {entry, sizeKnown});
        }
        // Of every object, the folder's own: a root object names no parent,
        // or (an iPhone) its storage.
        if (everything &&
            (entry.storage != storage ||
             (parentHandle ? entry.parent != parentHandle
                           : entry.parent != 0 && entry.parent != kRootParent && entry.parent != storage)))
            continue;
        // A name the folder already holds cannot be told apart by its path:
        // the first keeps it (libgphoto2 does the same).
        if (entry.name.isEmpty() || seen.contains(entry.name))
            continue;
        seen.insert(entry.name);
        Object object;
        object.storage = storage;
        object.handle = handle;
        object.folder = entry.isFolder();
        object.info.hasSize = !object.folder && sizeKnown;
        object.info.size = entry.size;
        object.info.hasTime = entry.hasTime;
        object.info.mtime = entry.mtime;
        object.info.wallClock = entry.wallClock;
        objects_.insert(folder + QLatin1Char('/') + entry.name, object);
        if (entries)
            (object.folder ? folders : files).push_back({entry.name, object.folder, !object.folder, object.info});
    }
    // The parent may have moved in the table while children were added.
    objects_[folder].listed = true;
    if (entries) {
        entries->clear();
        entries->reserve(files.size() + folders.size());
        std::move(files.begin(), files.end(), std::back_inserter(*entries));
        std::move(folders.begin(), folders.end(), std::back_inserter(*entries));
    }
    return kGpOk;
}

int PtpConnection::List(const QString &folder, std::vector<GPhotoEntry> &entries)
{
    Object *parent = nullptr;
    if (const int result = Find(folder, parent); result < 0)
        return result == kGpFileNotFound ? kGpDirectoryNotFound : result;
    if (!parent->folder)
        return kGpDirectoryNotFound;
    // Listed afresh each time: a new listing also shows what changed.
    return ListInto(folder, *parent, &entries);
}

int PtpConnection::ListFolders(const QString &folder, QStringList &names)
{
    std::vector<GPhotoEntry> entries;
    const int result = List(folder, entries);
    for (const GPhotoEntry &entry : entries)
        if (entry.isFolder)
            names << entry.name;
    return result;
}

int PtpConnection::ListFiles(const QString &folder, QStringList &names)
{
    std::vector<GPhotoEntry> entries;
    const int result = List(folder, entries);
    for (const GPhotoEntry &entry : entries)
        if (!entry.isFolder)
            names << entry.name;
    return result;
}

int PtpConnection::FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &info)
{
    Object *object = nullptr;
    if (const int result = Find(folder + QLatin1Char('/') + name, object); result < 0)
        return result;
    info = object->info;
    return kGpOk;
}

int PtpConnection::Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
                        std::uint64_t &size)
{
    const std::uint64_t wanted = std::min<std::uint64_t>(size, 0xFFFFFFFFu);
    size = 0;
    Object *object = nullptr;
    if (const int result = Find(folder + QLatin1Char('/') + name, object); result < 0)
        return result;
    if (object->folder)
        return kGpBadParameters;
    const std::uint32_t handle = object->handle;
    Sink sink;
    sink.buffer = buffer;
    sink.capacity = wanted;
    int result;
    if (device_.Supports(ptp::AndroidGetPartialObject64)) {
        result = TransactionInto(
            ptp::AndroidGetPartialObject64,
            {handle, std::uint32_t(offset & 0xFFFFFFFFu), std::uint32_t(offset >> 32), std::uint32_t(wanted)}, &sink);
    } else if (device_.Supports(ptp::GetPartialObject) && offset <= 0xFFFFFFFFu) {
        result = TransactionInto(ptp::GetPartialObject, {handle, std::uint32_t(offset), std::uint32_t(wanted)}, &sink);
    } else {
        lastError_ = QStringLiteral("The device cannot send part of a file.");
        return kGpNotSupported;
    }
    // Some cameras refuse to be asked past the end of the size they listed,
    // where the device is asked for one byte more to see the object end:
    // that end is the size, as libgphoto2's driver never asked past it.
    if (IsRefusal(result) && object->info.hasSize && offset + wanted > object->info.size &&
        (result == Refusal(ptp::RcInvalidParameter) || result == Refusal(ptp::RcParameterNotSupported) ||
         result == Refusal(ptp::RcGeneralError))) {
        if (offset >= object->info.size)
            return kGpOk;
        size = object->info.size - offset;
        return Read(folder, name, offset, buffer, size);
    }
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    size = sink.used;
    return kGpOk;
}

int PtpConnection::Thumbnail(const QString &folder, const QString &name, QByteArray &data)
{
    // A thumbnail is a few kilobytes: a device that announces more than
    // this is not trusted with the memory.
    constexpr std::uint64_t kMaxThumbnail = 8u << 20;
    Object *object = nullptr;
    if (const int result = Find(folder + QLatin1Char('/') + name, object); result < 0)
        return result;
    if (object->folder)
        return kGpBadParameters;
    if (!device_.Supports(ptp::GetThumb))
        return kGpNotSupported;
    data = QByteArray(qsizetype(kMaxThumbnail), Qt::Uninitialized);
    Sink sink;
    sink.buffer = data.data();
    sink.capacity = kMaxThumbnail;
    const int result = TransactionInto(ptp::GetThumb, {object->handle}, &sink);
    // A file without one (a video, a document) is refused with "no thumbnail".
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    data.truncate(qsizetype(sink.used));
    data.squeeze();
    return data.isEmpty() ? kGpNotSupported : kGpOk;
}

int PtpConnection::Delete(const QString &folder, const QString &name)
{
    const QString path = folder + QLatin1Char('/') + name;
    Object *object = nullptr;
    if (const int result = Find(path, object); result < 0)
        return result;
    const int result = Transaction(ptp::DeleteObject, {object->handle, 0}, nullptr);
    if (IsRefusal(result))
        return Refused(result);
    if (result < 0)
        return result;
    objects_.remove(path);
    return kGpOk;
}
