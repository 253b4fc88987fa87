#pragma once

#include "device/DeviceSession.h"
#include "device/GPhotoApi.h"

#include <mutex>

// USB cameras (PTP), phones and media players (MTP) through libgphoto2's
// camera driver. Object identifiers are the camera's own paths,
// "/store_00010001/DCIM/100CANON/IMG_0001.JPG".
class GPhotoBackend : public DeviceBackend
{
public:
    explicit GPhotoBackend(std::shared_ptr<GPhotoApi> api);

    bool Owns(const QString &deviceId) const override;
    HRESULT Enumerate(std::vector<DeviceEntry> &devices) override;
    HRESULT Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session) override;

    static QString DeviceIdFor(const QString &port);

private:
    std::shared_ptr<GPhotoApi> api_;
    std::mutex mutex_;
    std::vector<GPhotoCamera> detected_;
};

// The date given to objects whose device reports none.
inline constexpr char kUnknownWpdDate[] = "1899/12/30:00:00:00.000";
