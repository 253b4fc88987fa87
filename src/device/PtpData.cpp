#include "PtpData.h"

#include <QHash>

#include <algorithm>
#include <ctime>

namespace ptp {

namespace {

void Put16(QByteArray &out, std::uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void Put32(QByteArray &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

// Little-endian fields from a data set; any read past the end marks the
// whole reader as failed and gives zeros.
class Reader
{
public:
    Reader(const char *data, std::size_t size) : data_(reinterpret_cast<const unsigned char *>(data)), size_(size) {}
    explicit Reader(const QByteArray &data) : Reader(data.constData(), std::size_t(data.size())) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ >= size_; }

    std::uint64_t Number(std::size_t bytes)
    {
        if (!Need(bytes))
            return 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < bytes && i < 8; ++i)
            v |= std::uint64_t(data_[pos_ + i]) << (8 * i);
        pos_ += bytes;
        return v;
    }
    std::uint8_t U8() { return std::uint8_t(Number(1)); }
    std::uint16_t U16() { return std::uint16_t(Number(2)); }
    std::uint32_t U32() { return std::uint32_t(Number(4)); }
    std::uint64_t U64() { return Number(8); }

    // A count of UTF-16 code units (the closing NUL included), then the units.
    QString String()
    {
        const std::uint8_t count = U8();
        if (!Need(std::size_t(count) * 2))
            return QString();
        QString text;
        text.reserve(count);
        for (std::uint8_t i = 0; i < count; ++i) {
            const char16_t unit = char16_t(data_[pos_] | (data_[pos_ + 1] << 8));
            pos_ += 2;
            if (unit == 0 && i + 1 == count)
                break;
            text.append(QChar(unit));
        }
        return text;
    }

    std::vector<std::uint16_t> Array16()
    {
        const std::uint32_t count = U32();
        std::vector<std::uint16_t> values;
        if (!Need(std::size_t(count) * 2))
            return values;
        values.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            values.push_back(U16());
        return values;
    }

    void Skip(std::size_t bytes)
    {
        if (Need(bytes))
            pos_ += bytes;
    }

private:
    bool Need(std::size_t bytes)
    {
        if (!ok_ || size_ - pos_ < bytes) {
            ok_ = false;
            return false;
        }
        return true;
    }

    const unsigned char *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// MTP object property codes.
enum : std::uint16_t {
    PropStorageID = 0xDC01,
    PropObjectFormat = 0xDC02,
    PropObjectFileName = 0xDC07,
    PropDateCreated = 0xDC08,
    PropDateModified = 0xDC09,
    PropParentObject = 0xDC0B,
};

enum : std::uint16_t { TypeString = 0xFFFF, TypeArrayFlag = 0x4000 };

// Bytes of one value of an integer data type; 0 for unknown types.
std::size_t IntegerSize(std::uint16_t type)
{
    switch (type) {
    case 0x0001:
    case 0x0002: return 1;
    case 0x0003:
    case 0x0004: return 2;
    case 0x0005:
    case 0x0006: return 4;
    case 0x0007:
    case 0x0008: return 8;
    case 0x0009:
    case 0x000A: return 16;
    default: return 0;
    }
}

bool SetTime(ObjectEntry &entry, const QString &text)
{
    const auto when = ParseDateTime(text);
    if (!when)
        return false;
    entry.hasTime = true;
    entry.mtime = when->seconds;
    entry.wallClock = when->wallClock;
    return true;
}

}  // namespace

QByteArray PackCommand(std::uint16_t code, std::uint32_t transaction, const std::vector<std::uint32_t> &params)
{
    QByteArray out;
    out.reserve(12 + int(params.size()) * 4);
    Put32(out, std::uint32_t(12 + params.size() * 4));
    Put16(out, CommandBlock);
    Put16(out, code);
    Put32(out, transaction);
    for (std::uint32_t p : params)
        Put32(out, p);
    return out;
}

std::optional<ContainerHeader> ParseHeader(const char *data, std::size_t size)
{
    if (size < 12)
        return std::nullopt;
    Reader r(data, size);
    ContainerHeader h;
    h.length = r.U32();
    h.type = r.U16();
    h.code = r.U16();
    h.transaction = r.U32();
    return h;
}

std::vector<std::uint32_t> ResponseParams(const char *data, std::size_t size)
{
    std::vector<std::uint32_t> params;
    Reader r(data, size);
    r.Skip(12);
    while (r.ok() && !r.atEnd() && params.size() < 5) {
        const std::uint32_t v = r.U32();
        if (r.ok())
            params.push_back(v);
    }
    return params;
}

bool DeviceInfo::Supports(std::uint16_t operation) const
{
    return std::find(operations.begin(), operations.end(), operation) != operations.end();
}

bool DeviceInfo::HasProperty(std::uint16_t property) const
{
    return std::find(deviceProperties.begin(), deviceProperties.end(), property) != deviceProperties.end();
}

std::optional<DeviceInfo> ParseDeviceInfo(const QByteArray &data)
{
    Reader r(data);
    DeviceInfo info;
    r.U16();  // standard version
    info.vendorExtensionId = r.U32();
    r.U16();  // vendor extension version
    info.vendorExtensionDesc = r.String();
    r.U16();  // functional mode
    info.operations = r.Array16();
    r.Array16();  // events
    info.deviceProperties = r.Array16();
    r.Array16();  // capture formats
    r.Array16();  // image formats
    if (!r.ok())
        return std::nullopt;
    // Some devices end the set early: what is there is kept.
    info.manufacturer = r.String();
    info.model = r.String();
    info.deviceVersion = r.String();
    info.serialNumber = r.String();
    return info;
}

std::optional<StorageInfo> ParseStorageInfo(const QByteArray &data)
{
    Reader r(data);
    r.U16();  // storage type
    r.U16();  // file system type
    r.U16();  // access capability
    r.U64();  // capacity
    r.U64();  // free bytes
    r.U32();  // free objects
    StorageInfo info;
    info.description = r.String();
    info.label = r.String();
    if (!r.ok())
        return std::nullopt;
    return info;
}

std::optional<ObjectEntry> ParseObjectInfo(std::uint32_t handle, const QByteArray &data)
{
    Reader r(data);
    ObjectEntry e;
    e.handle = handle;
    e.storage = r.U32();
    e.format = r.U16();
    r.U16();  // protection
    e.size = r.U32();
    r.Skip(2 + 4 * 6);  // thumb format, thumb size and dimensions, image dimensions and depth
    e.parent = r.U32();
    r.U16();  // association type
    r.U32();  // association description
    r.U32();  // sequence number
    e.name = r.String();
    const QString captured = r.String();
    if (!r.ok())
        return std::nullopt;
    const QString modified = r.String();
    SetTime(e, captured);
    if (r.ok())
        SetTime(e, modified);
    return e;
}

std::optional<std::vector<ObjectEntry>> ParseObjectPropList(const QByteArray &data)
{
    Reader r(data);
    const std::uint32_t count = r.U32();
    if (!r.ok())
        return std::nullopt;
    std::vector<ObjectEntry> entries;
    QHash<std::uint32_t, std::size_t> index;
    // What each object's entry has said so far: a name, a format, a size,
    // the date of its last change.
    enum : unsigned { Named = 1, Formatted = 2, Sized = 4, Modified = 8 };
    std::vector<unsigned> said;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t handle = r.U32();
        const std::uint16_t property = r.U16();
        const std::uint16_t type = r.U16();
        if (!r.ok())
            return std::nullopt;
        auto at = index.constFind(handle);
        if (at == index.constEnd()) {
            at = index.insert(handle, entries.size());
            entries.push_back(ObjectEntry{});
            entries.back().handle = handle;
            said.push_back(0);
        }
        const std::size_t n = *at;
        ObjectEntry &e = entries[n];
        if (type == TypeString) {
            const QString text = r.String();
            if (property == PropObjectFileName) {
                e.name = text;
                said[n] |= Named;
            } else if (property == PropDateModified) {
                if (SetTime(e, text))
                    said[n] |= Modified;
            } else if (property == PropDateCreated && !(said[n] & Modified)) {
                SetTime(e, text);
            }
        } else if (type & TypeArrayFlag) {
            const std::uint32_t elements = r.U32();
            const std::size_t size = IntegerSize(type & ~TypeArrayFlag);
            if (size == 0)
                return std::nullopt;
            r.Skip(std::size_t(elements) * size);
        } else {
            const std::size_t size = IntegerSize(type);
            if (size == 0)
                return std::nullopt;
            const std::uint64_t v = r.Number(size);
            switch (property) {
            case PropStorageID: e.storage = std::uint32_t(v); break;
            case PropObjectFormat:
                e.format = std::uint16_t(v);
                said[n] |= Formatted;
                break;
            case PropObjectSize:
                // Given in 32 bits, all ones is "4 GiB or more": the object
                // is asked about on its own.
                if (size < 8 && v == 0xFFFFFFFFu)
                    break;
                e.size = v;
                said[n] |= Sized;
                break;
            case PropParentObject: e.parent = std::uint32_t(v); break;
            default: break;
            }
        }
        if (!r.ok())
            return std::nullopt;
    }
    std::vector<ObjectEntry> complete;
    complete.reserve(entries.size());
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const unsigned needed = Named | Formatted | (entries[n].isFolder() ? 0u : unsigned(Sized));
        if ((said[n] & needed) == needed)
            complete.push_back(std::move(entries[n]));
    }
    return complete;
}

std::vector<std::uint32_t> ParseUint32Array(const QByteArray &data, bool *ok)
{
    Reader r(data);
    const std::uint32_t count = r.U32();
    std::vector<std::uint32_t> values;
    if (r.ok() && std::uint64_t(count) * 4 <= std::uint64_t(data.size())) {
        values.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            values.push_back(r.U32());
    } else {
        r.Skip(std::size_t(-1));
    }
    if (ok)
        *ok = r.ok();
    return values;
}

std::optional<int> ParseBatteryPercent(const QByteArray &description)
{
    Reader r(description);
    r.U16();                // the property
    if (r.U16() != 0x0002)  // UINT8
        return std::nullopt;
    r.U8();  // get/set
    r.U8();  // factory default
    const int value = r.U8();
    const std::uint8_t form = r.U8();
    if (!r.ok())
        return std::nullopt;
    if (form == 1) {  // a range: a camera may count 0 to 3, or 1 to 4
        const int minimum = r.U8();
        const int maximum = r.U8();
        if (r.ok() && maximum > minimum)
            return std::clamp((value - minimum) * 100 / (maximum - minimum), 0, 100);
    }
    return value <= 100 ? std::optional<int>(value) : std::nullopt;
}

std::optional<DeviceTime> ParseDateTime(const QString &text)
{
    // YYYYMMDDThhmmss: fifteen characters at least.
    const QString t = text.trimmed();
    if (t.size() < 15 || t.at(8) != QLatin1Char('T'))
        return std::nullopt;
    auto digits = [&](int from, int count, int &value) {
        value = 0;
        for (int i = from; i < from + count; ++i) {
            if (i >= t.size() || !t.at(i).isDigit() || t.at(i).unicode() > '9')
                return false;
            value = value * 10 + (t.at(i).unicode() - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!digits(0, 4, year) || !digits(4, 2, month) || !digits(6, 2, day) || !digits(9, 2, hour) ||
        !digits(11, 2, minute) || !digits(13, 2, second))
        return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    int pos = 15;
    if (pos < t.size() && t.at(pos) == QLatin1Char('.')) {  // tenths, ignored
        ++pos;
        while (pos < t.size() && t.at(pos).isDigit())
            ++pos;
    }
    struct tm fields
    {
    };
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const std::int64_t utc = std::int64_t(timegm(&fields));
    if (pos == t.size())
        return DeviceTime{utc, true};
    const QChar zone = t.at(pos);
    if (zone == QLatin1Char('Z') && pos + 1 == t.size())
        return DeviceTime{utc, false};
    int offsetHours = 0, offsetMinutes = 0;
    if ((zone == QLatin1Char('+') || zone == QLatin1Char('-')) && digits(pos + 1, 2, offsetHours) &&
        (t.size() == pos + 3 || (t.size() == pos + 5 && digits(pos + 3, 2, offsetMinutes)) ||
         (t.size() == pos + 6 && t.at(pos + 3) == QLatin1Char(':') && digits(pos + 4, 2, offsetMinutes)))) {
        const std::int64_t offset = (offsetHours * 60 + offsetMinutes) * 60;
        return DeviceTime{zone == QLatin1Char('+') ? utc - offset : utc + offset, false};
    }
    return std::nullopt;
}

QString ResponseText(std::uint16_t code)
{
    switch (code) {
    case RcGeneralError: return QStringLiteral("PTP General Error");
    case RcSessionNotOpen: return QStringLiteral("PTP Session Not Open");
    case RcOperationNotSupported: return QStringLiteral("PTP Operation Not Supported");
    case RcInvalidStorageId: return QStringLiteral("PTP Invalid Storage ID");
    case RcInvalidObjectHandle: return QStringLiteral("PTP Invalid Object Handle");
    case RcStoreNotAvailable: return QStringLiteral("PTP Store Not Available");
    case RcDeviceBusy: return QStringLiteral("PTP Device Busy");
    case RcAccessDenied: return QStringLiteral("PTP Access Denied");
    case RcSessionAlreadyOpened: return QStringLiteral("PTP Session Already Opened");
    default: return QStringLiteral("PTP response 0x%1").arg(code, 4, 16, QLatin1Char('0'));
    }
}

}  // namespace ptp
