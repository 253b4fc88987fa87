#include "DeviceConnection.h"

#include "base/TextRules.h"
#include "log/LogSink.h"

DeviceConnection::DeviceConnection(DeviceService &service, LogSink &log) : service_(service), log_(log)
{
}

QString DeviceConnection::DeviceTypeName(std::uint32_t type)
{
    static const char *const kNames[] = {
        "WPD_DEVICE_TYPE_GENERIC",        "WPD_DEVICE_TYPE_CAMERA", "WPD_DEVICE_TYPE_MEDIA_PLAYER",
        "WPD_DEVICE_TYPE_PHONE",          "WPD_DEVICE_TYPE_VIDEO",  "WPD_DEVICE_TYPE_PERSONAL_INFORMATION_MANAGER",
        "WPD_DEVICE_TYPE_AUDIO_RECORDER",
    };
    if (type < std::size(kNames))
        return QString::fromLatin1(kNames[type]);
    return QStringLiteral("WPD_DEVICE_TYPE_UNKNOWN (%1)").arg(type);
}

void DeviceConnection::Failure(bool report, const QString &text, LogColor color)
{
    if (report)
        log_.WriteLog(text, color);
}

bool DeviceConnection::OpenHandles(const QString &DeviceID, bool report)
{
    openedId_.clear();
    handles_.aPortableDeviceManager = service_.CreateManager();
    if (!handles_.aPortableDeviceManager) {
        Failure(report, QStringLiteral("CoPortableDeviceManager.Create failed."), LogColor::Red);
        return false;
    }
    handles_.aPortableDevice = service_.CreateDevice();
    if (!handles_.aPortableDevice) {
        Failure(report, QStringLiteral("CoPortableDevice.Create failed."), LogColor::Red);
        return false;
    }
    handles_.aPortableDeviceValues = service_.CreateValues();
    if (!handles_.aPortableDeviceValues) {
        Failure(report, QStringLiteral("aPortableDevValues failed."), LogColor::Black);
        return false;
    }

    HRESULT res = handles_.aPortableDevice->Open(DeviceID, handles_.aPortableDeviceValues.get());
    log_.WriteResult(QStringLiteral("aPortableDevice.Open"), res);
    if (res != S_OK) {
        Failure(report, QStringLiteral("aPortableDevice.Open failed. No Portable Devices found."), LogColor::Red);
        // What the code means, and the device library's own words for it.
        if (!DeviceErrorText(res).isEmpty() || !DeviceErrorMessage(res).isEmpty())
            Failure(report, DeviceFailureReason(res), LogColor::Red);
        return false;
    }

    // A device that opens but will not show its content or properties is of
    // no use to anything that follows: count it as not open.
    handles_.aPortableDeviceContent.reset();
    res = handles_.aPortableDevice->Content(handles_.aPortableDeviceContent);
    log_.WriteResult(QStringLiteral("aPortableDevice.Content"), res);
    if (FAILED(res) || !handles_.aPortableDeviceContent) {
        Failure(report, QStringLiteral("aPortableDevice.Content failed."), LogColor::Red);
        return false;
    }

    handles_.aPortableDeviceProperties.reset();
    res = handles_.aPortableDeviceContent->Properties(handles_.aPortableDeviceProperties);
    log_.WriteResult(QStringLiteral("aPortableDeviceContent.Properties"), res);
    if (FAILED(res) || !handles_.aPortableDeviceProperties) {
        Failure(report, QStringLiteral("aPortableDeviceContent.Properties failed."), LogColor::Red);
        return false;
    }

    std::shared_ptr<PortableDeviceValues> values;
    res = handles_.aPortableDeviceProperties->GetValues(QStringLiteral("DEVICE"), nullptr, values);
    log_.WriteResult(QStringLiteral("aPortableDeviceProperties.GetValues"), res);
    handles_.aPortableDeviceValues = values;
    if (FAILED(res) || !values) {
        Failure(report, QStringLiteral("aPortableDeviceProperties.GetValues failed."), LogColor::Red);
        return false;
    }
    openedId_ = DeviceID;
    return true;
}

bool DeviceConnection::OpenDevice(const QString &DeviceID, bool Quiet)
{
    refusalSaid_ = false;
    if (!Quiet) {
        log_.WriteLog(QStringLiteral("DEVICE: ") + CurrentDeviceName, LogColor::Blue, LogStyle::Bold);
        log_.WriteLog(QStringLiteral("DeviceID = ") + DeviceID, LogColor::Black);
    }
    if (!OpenHandles(DeviceID, !Quiet))
        return false;

    const PortableDeviceValues &values = *handles_.aPortableDeviceValues;
    auto info = [&](const QString &text) {
        if (!Quiet)
            log_.WriteLog(text, LogColor::Black);
    };

    std::uint32_t number = 0;
    QString text;
    HRESULT res = values.GetUnsignedIntegerValue(WPD_DEVICE_TYPE, number);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_TYPE"), res);
    if (SUCCEEDED(res))
        info(QStringLiteral("DEVICE TYPE = ") + DeviceTypeName(number));
    const bool phone = SUCCEEDED(res) && number == WPD_DEVICE_TYPE_PHONE;

    res = values.GetStringValue(WPD_DEVICE_MANUFACTURER, text);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_MANUFACTURER"), res);
    if (SUCCEEDED(res))
        info(QStringLiteral("MANUFACTURER: ") + text);
    // An iPhone speaks PTP as a camera does, and shows its photos only once
    // it is unlocked and trusts this computer.
    const bool apple = SUCCEEDED(res) && text.trimmed().startsWith(QLatin1String("Apple"), Qt::CaseInsensitive);

    res = values.GetStringValue(WPD_DEVICE_MODEL, text);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_MODEL"), res);
    if (SUCCEEDED(res))
        info(QStringLiteral("MODEL: ") + text);

    res = values.GetUnsignedIntegerValue(WPD_DEVICE_POWER_SOURCE, number);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_POWER_SOURCE"), res);
    if (SUCCEEDED(res)) {
        if (number == WPD_POWER_SOURCE_BATTERY)
            info(QStringLiteral("POWER SOURCE = Battery"));
        else if (number == WPD_POWER_SOURCE_EXTERNAL)
            info(QStringLiteral("POWER SOURCE = External"));
    }

    res = values.GetUnsignedIntegerValue(WPD_DEVICE_POWER_LEVEL, number);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_POWER_LEVEL"), res);
    if (SUCCEEDED(res) && number > 0)
        info(QStringLiteral("POWER LEVEL = %1%").arg(number));

    res = values.GetStringValue(WPD_DEVICE_SERIAL_NUMBER, text);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_SERIAL_NUMBER"), res);
    if (SUCCEEDED(res))
        info(QStringLiteral("SERIAL No.: ") + text);

    // A phone shows its storage only while it is unlocked and set to
    // transfer files: without one it would list as empty.
    if ((phone || apple) && !HasStorage()) {
        log_.WriteLog(apple ? QStringLiteral("The iPhone shows no storage: unlock it and tap \"Trust\" on the "
                                             "phone (trust this computer), then press Connect.")
                            : QStringLiteral("The phone shows no storage: unlock it and allow file transfer (USB: "
                                             "File transfer / MTP), then press Connect."),
                      LogColor::Red, LogStyle::Bold);
        refusalSaid_ = true;
        return false;
    }
    return true;
}

bool DeviceConnection::HasStorage()
{
    std::shared_ptr<IEnumPortableDeviceObjectIDs> storages;
    const HRESULT res = handles_.aPortableDeviceContent->EnumObjects(0, QStringLiteral("DEVICE"), storages);
    log_.WriteResult(QStringLiteral("aPortableDeviceContent.EnumObjects DEVICE"), res);
    // A failure to list is no sign of a locked phone: the listing says why.
    QString first;
    return FAILED(res) || !storages || storages->Next(first) == S_OK;
}

QString DeviceConnection::GetDeviceSerialNo(const QString &DeviceID)
{
    log_.WriteDebug(QStringLiteral("DEVICE ID: ") + DeviceID);
    if (!OpenHandles(DeviceID, true))
        return QString();
    QString serial;
    const HRESULT res = handles_.aPortableDeviceValues->GetStringValue(WPD_DEVICE_SERIAL_NUMBER, serial);
    log_.WriteResult(QStringLiteral("WPD_DEVICE_SERIAL_NUMBER"), res);
    if (FAILED(res))
        serial.clear();
    log_.WriteDebug(QStringLiteral("SERIAL No.: ") + serial);
    return TrimControl(serial);
}
