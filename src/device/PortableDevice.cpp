#include "PortableDevice.h"

#include <QUuid>

#include <array>
#include <utility>

// --- PortableDeviceValues -------------------------------------------------

HRESULT PortableDeviceValues::GetValue(PROPERTYKEY key, PROPVARIANT &value) const
{
    const PROPVARIANT *found = Find(key);
    if (!found)
        return E_NOT_FOUND;
    value = *found;
    return S_OK;
}

HRESULT PortableDeviceValues::GetStringValue(PROPERTYKEY key, QString &value) const
{
    const PROPVARIANT *found = Find(key);
    if (!found)
        return E_NOT_FOUND;
    if (const QString *text = std::get_if<QString>(found)) {
        value = *text;
        return S_OK;
    }
    return E_TYPE_MISMATCH;
}

HRESULT PortableDeviceValues::GetUnsignedIntegerValue(PROPERTYKEY key, std::uint32_t &value) const
{
    const PROPVARIANT *found = Find(key);
    if (!found)
        return E_NOT_FOUND;
    if (const std::uint32_t *v = std::get_if<std::uint32_t>(found)) {
        value = *v;
        return S_OK;
    }
    return E_TYPE_MISMATCH;
}

HRESULT PortableDeviceValues::GetUnsignedLargeIntegerValue(PROPERTYKEY key, std::uint64_t &value) const
{
    const PROPVARIANT *found = Find(key);
    if (!found)
        return E_NOT_FOUND;
    if (const std::uint64_t *v = std::get_if<std::uint64_t>(found)) {
        value = *v;
        return S_OK;
    }
    if (const std::uint32_t *v = std::get_if<std::uint32_t>(found)) {
        value = *v;
        return S_OK;
    }
    return E_TYPE_MISMATCH;
}

HRESULT PortableDeviceValues::SetValue(PROPERTYKEY key, const PROPVARIANT &value)
{
    return Store(key, value);
}

HRESULT PortableDeviceValues::SetStringValue(PROPERTYKEY key, const QString &value)
{
    return Store(key, value);
}

HRESULT PortableDeviceValues::SetUnsignedIntegerValue(PROPERTYKEY key, std::uint32_t value)
{
    return Store(key, value);
}

HRESULT PortableDeviceValues::SetUnsignedLargeIntegerValue(PROPERTYKEY key, std::uint64_t value)
{
    return Store(key, value);
}

// --- collections ----------------------------------------------------------

HRESULT PortableDeviceKeyCollection::Add(PROPERTYKEY key)
{
    keys_.push_back(key);
    return S_OK;
}

bool PortableDeviceKeyCollection::Contains(PROPERTYKEY key) const
{
    for (PROPERTYKEY k : keys_)
        if (k == key)
            return true;
    return false;
}

HRESULT PortableDevicePropVariantCollection::Add(const PROPVARIANT &value)
{
    values_.push_back(value);
    return S_OK;
}

// --- DeviceService ----------------------------------------------------------

std::shared_ptr<PortableDeviceValues> DeviceService::CreateValues()
{
    return std::make_shared<PortableDeviceValues>();
}

std::shared_ptr<PortableDevicePropVariantCollection> DeviceService::CreatePropVariantCollection()
{
    return std::make_shared<PortableDevicePropVariantCollection>();
}

HRESULT StringToPropVariant(DeviceService &service, const QString &text, PROPVARIANT &value)
{
    value = std::monostate();
    const std::shared_ptr<PortableDeviceValues> values = service.CreateValues();
    if (!values)
        return E_OUTOFMEMORY;
    HRESULT hr = values->SetStringValue(WPD_OBJECT_ID, text);
    if (SUCCEEDED(hr))
        hr = values->GetValue(WPD_OBJECT_ID, value);
    return hr;
}

// --- content types ----------------------------------------------------------

namespace {

struct ContentType
{
    const char *name;
    const char *guid;
};

constexpr std::array<ContentType, 29> kContentTypes{{
    {"FUNCTIONAL_OBJECT", "99ED0160-17FF-4C44-9D98-1D7A6F941921"},
    {"FOLDER", "27E2E392-A111-48E0-AB0C-E17705A05F85"},
    {"IMAGE", "EF2107D5-A52A-4243-A26B-62D4176D7603"},
    {"DOCUMENT", "680ADF52-950A-4041-9B41-65E393648155"},
    {"CONTACT", "EABA8313-4525-4707-9F0E-87C6808E9435"},
    {"CONTACT_GROUP", "346B8932-4C36-40D8-9415-1828291F9DE9"},
    {"AUDIO", "4AD2C85E-5E2D-45E5-8864-4F229E3C6CF0"},
    {"VIDEO", "9261B03C-3D78-4519-85E3-02C5E1F50BB9"},
    {"TELEVISION", "60A169CF-F2AE-4E21-9375-9677F11C1C6E"},
    {"PLAYLIST", "1A33F7E4-AF13-48F5-994E-77369DFE04A3"},
    {"MIXED_CONTENT_ALBUM", "00F0C3AC-A593-49AC-9219-24ABCA5A2563"},
    {"AUDIO_ALBUM", "AA18737E-5009-48FA-AE21-85F24383B4E6"},
    {"IMAGE_ALBUM", "75793148-15F5-4A30-A813-54ED8A37E226"},
    {"VIDEO_ALBUM", "012B0DB7-D4C1-45D6-B081-94B87779614F"},
    {"MEMO", "9CD20ECF-3B50-414F-A641-E473FFE45751"},
    {"EMAIL", "8038044A-7E51-4F8F-883D-1D0623D14533"},
    {"APPOINTMENT", "0FED060E-8793-4B1E-90C9-48AC389AC631"},
    {"TASK", "63252F2C-887F-4CB6-B1AC-D29855DCEF6C"},
    {"PROGRAM", "D269F96A-247C-4BFF-98FB-97F3C49220E6"},
    {"GENERIC_FILE", "0085E0A6-8D34-45D7-BC5C-447E59C73D48"},
    {"CALENDAR", "A1FD5967-6023-49A0-9DF1-F8060BE751B0"},
    {"GENERIC_MESSAGE", "E80EAAF8-B2DB-4133-B67E-1BEF4B4A6E5F"},
    {"NETWORK_ASSOCIATION", "031DA7EE-18C8-4205-847E-89A11261D0F3"},
    {"CERTIFICATE", "DC3876E8-A948-4060-9050-CBD77E8A3D87"},
    {"WIRELESS_PROFILE", "0BAC070A-9F5F-4DA4-A8F6-3DE44D68FD6C"},
    {"MEDIA_CAST", "5E88B3CC-3E65-4E62-BFFF-229495253AB0"},
    {"SECTION", "821089F5-1D91-4DC9-BE3C-BBB1B35B18CE"},
    {"UNSPECIFIED", "28D8D31E-249C-454E-AABC-34883168E634"},
    {"ALL", "80E170D2-1055-4A3E-B952-82CC4F8A8689"},
}};

// The table as parsed values, made once: every listed object asks.
struct ParsedContentType
{
    QUuid uuid;
    QString name;
    QString guidText;
};

const std::array<ParsedContentType, 29> &ParsedContentTypes()
{
    static const std::array<ParsedContentType, 29> parsed = [] {
        std::array<ParsedContentType, 29> out;
        for (size_t i = 0; i < kContentTypes.size(); ++i) {
            out[i].uuid = QUuid::fromString(QLatin1String(kContentTypes[i].guid));
            out[i].name = QString::fromLatin1(kContentTypes[i].name);
            out[i].guidText = QLatin1Char('{') + QLatin1String(kContentTypes[i].guid) + QLatin1Char('}');
        }
        return out;
    }();
    return parsed;
}

}  // namespace

QString ContentTypeName(const QString &contentType)
{
    if (contentType.isEmpty())
        return contentType;
    // The usual case first: the exact text a backend gave.
    for (const ParsedContentType &type : ParsedContentTypes())
        if (type.guidText == contentType)
            return type.name;
    const QUuid uuid = QUuid::fromString(contentType);
    if (uuid.isNull())
        return contentType;
    for (const ParsedContentType &type : ParsedContentTypes())
        if (uuid == type.uuid)
            return type.name;
    return contentType;
}

QString ContentTypeGuid(const QString &name)
{
    for (const ParsedContentType &type : ParsedContentTypes())
        if (name == type.name)
            return type.guidText;
    return QString();
}

QString DeviceErrorText(HRESULT code)
{
    switch (code) {
    case E_DEVICE_BUSY:
    case -53:   // libgphoto2: could not claim the USB device
    case -60:   // libgphoto2: could not lock the device
    case -110:  // libgphoto2: camera busy
        return QStringLiteral("The device is busy: another program is using it. Most often the desktop's file manager "
                              "has opened the camera or phone by itself. Unmount or eject it in the file manager (or "
                              "close the program that uses it), then press Connect.");
    case E_DEVICE_NOT_CONNECTED:
    case -52:  // libgphoto2: USB device not found
    case -7:   // libgphoto2: input/output error
        return QStringLiteral("The device or memory card is no longer connected: it was unplugged, removed or "
                              "unmounted. Check the cable or put the card back (unlock a phone and allow file "
                              "transfer on it), then press Connect.");
    case E_FOLDER_GONE:
        return QStringLiteral("The folder or memory card is gone: it was removed, unmounted, moved or renamed. "
                              "Put it back, then press Connect.");
    case E_ACCESSDENIED:
        return QStringLiteral("Access was denied. The file may be protected, or the card locked against writing.");
    case E_NOT_FOUND:
    case -107:  // libgphoto2: directory not found
    case -108:  // libgphoto2: file not found
        return QStringLiteral("The file or folder is no longer on the device.");
    case E_OUTOFMEMORY: return QStringLiteral("The system ran out of resources (memory or open files).");
    default: return QString();
    }
}

bool DeviceWentAway(HRESULT code)
{
    return code == E_DEVICE_NOT_CONNECTED || code == E_FOLDER_GONE || code == -52 || code == -7;
}

namespace {

struct ErrorMessage
{
    HRESULT code = S_OK;
    QString text;
};

ErrorMessage &LastErrorMessage()
{
    thread_local ErrorMessage message;
    return message;
}

}  // namespace

void SetDeviceErrorMessage(HRESULT code, const QString &message)
{
    LastErrorMessage() = {code, message.trimmed()};
}

QString DeviceErrorMessage(HRESULT code)
{
    const ErrorMessage &last = LastErrorMessage();
    return last.code == code && FAILED(code) ? last.text : QString();
}

QString DeviceFailureReason(HRESULT code)
{
    QString reason = DeviceErrorText(code);
    if (reason.isEmpty())
        // A system result in hexadecimal as it is documented; a device
        // library's small negative codes as they are.
        reason = code < -0xFFFF ? QStringLiteral("Error code 0x%1.").arg(quint32(code), 8, 16, QLatin1Char('0'))
                                : QStringLiteral("Error code %1.").arg(code);
    const QString message = DeviceErrorMessage(code);
    if (!message.isEmpty())
        reason += QStringLiteral(" The device says: \"%1\"").arg(message);
    return reason;
}
