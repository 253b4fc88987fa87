#pragma once

// Cameras (PTP), phones and media players (MTP) and iPhones spoken to
// directly over libgphoto2's USB port layer, instead of through its camera
// driver: that driver finds every file by name among all the objects it
// knows, which makes a folder of 20,000 photos take many seconds to list.
// Here a folder costs one request for its object handles and, where the
// device offers it, one for the properties of all of them (otherwise one
// per object), and every later call reaches its object through a table.

#include "device/GPhotoApi.h"
#include "device/PtpData.h"

#include <QHash>

#include <memory>

// The USB pipe to a PTP device: bulk writes and reads with libgphoto2's
// result codes (negative on failure).
class PtpPort
{
public:
    virtual ~PtpPort() = default;
    virtual int Write(const char *data, int size) = 0;
    // Up to size bytes; a transfer ends early at a short packet, and 0 is a
    // zero-length packet.
    virtual int Read(char *data, int size) = 0;
    virtual int MaxPacketSize() const { return 512; }
    virtual void SetTimeout(int milliseconds) { (void)milliseconds; }
    // Asks the device to reset its PTP state (a class request); false when
    // that could not be sent.
    virtual bool Reset() { return false; }
    // The port layer's words for its last failure.
    virtual QString LastError() const { return QString(); }
};

class PtpConnection : public GPhotoConnection
{
public:
    // usbVendor tells an iPhone (0x05ac) from the rest; an Android phone
    // names itself. Any other device is of the kind given.
    PtpConnection(std::unique_ptr<PtpPort> port, int usbVendor, GPhotoKind kind = GPhotoKind::MediaPlayer);
    ~PtpConnection() override;

    // Opens the session and reads the device's description.
    int Start();

    int Storages(std::vector<GPhotoStorage> &storages) override;
    int ListFolders(const QString &folder, QStringList &names) override;
    int ListFiles(const QString &folder, QStringList &names) override;
    int List(const QString &folder, std::vector<GPhotoEntry> &entries) override;
    int FileInfo(const QString &folder, const QString &name, GPhotoFileInfo &info) override;
    int Read(const QString &folder, const QString &name, std::uint64_t offset, char *buffer,
             std::uint64_t &size) override;
    int Delete(const QString &folder, const QString &name) override;
    int Thumbnail(const QString &folder, const QString &name, QByteArray &data) override;
    int ConfigText(const char *key, QString &value) override;
    GPhotoKind Kind() const override;
    QString LastError() const override { return lastError_; }

    // Requests sent since the connection opened.
    std::uint64_t Transactions() const { return transactions_; }

private:
    struct Object
    {
        std::uint32_t storage = 0;
        std::uint32_t handle = 0;  // 0 for a storage's root
        bool folder = false;
        bool listed = false;
        GPhotoFileInfo info;
    };

    // Where the data of a transaction goes: a growing array or the caller's
    // buffer.
    struct Sink
    {
        QByteArray *array = nullptr;
        char *buffer = nullptr;
        std::uint64_t capacity = 0;
        std::uint64_t used = 0;
    };

    int TransactionInto(std::uint16_t code, const std::vector<std::uint32_t> &params, Sink *data,
                        std::vector<std::uint32_t> *responseParams = nullptr);
    int Transaction(std::uint16_t code, const std::vector<std::uint32_t> &params, QByteArray *data)
    {
        Sink sink;
        sink.array = data;
        return TransactionInto(code, params, data ? &sink : nullptr);
    }
    int ReadPacket(char *data, int size);
    int ReadData(const char *first, int got, const ptp::ContainerHeader &header, Sink &sink);
    int PortFailed(int result);
    // The result for a device's refusal, with its words kept.
    int Refused(int refusal);

    // The object at a path, listing the folders on its way when needed.
    int Find(const QString &path, Object *&object);
    int ListInto(const QString &folder, Object &parent, std::vector<GPhotoEntry> *entries);
    // The handles of a folder's children; with `everything` set they are
    // every object of the device, for a device that cannot list by folder.
    int ChildHandles(std::uint32_t storage, std::uint32_t parent, std::vector<std::uint32_t> &handles,
                     bool &everything);
    // One object's information, asked for on its own; 1 when the object is
    // gone since its handle was listed.
    int Describe(std::uint32_t handle, ptp::ObjectEntry &entry, bool &sizeKnown);

    std::unique_ptr<PtpPort> port_;
    int usbVendor_;
    GPhotoKind kind_;
    ptp::DeviceInfo device_;
    std::uint32_t transaction_ = 0;
    bool sessionOpen_ = false;
    bool broken_ = false;  // a transfer failed: the pipe is out of step
    bool propListWorks_ = true;
    bool listsByFolder_ = true;  // false: only every object at once, filtered here
    // For such a device, what each object is, asked once.
    QHash<std::uint32_t, std::pair<ptp::ObjectEntry, bool>> described_;
    QByteArray pending_;  // bytes read past a container, for the next read
    QHash<QString, Object> objects_;
    QString lastError_;
    std::uint64_t transactions_ = 0;
};
