#pragma once

#include "device/DeviceSession.h"
#include "device/GPhotoApi.h"
#include "device/ReadAhead.h"

#include <map>
#include <mutex>

// One attached camera and its open connection, shared by every session of
// it: a camera opened to be named in a scan is the one that is then read,
// instead of being opened again while it is still held.
struct GPhotoLink
{
    GPhotoCamera camera;
    std::unique_ptr<GPhotoConnection> connection;
    std::recursive_mutex mutex;
    DevicePace pace;  // how large its reads may be
};

// USB cameras (PTP), phones and media players (MTP) through libgphoto2's
// camera driver. Object identifiers are the camera's own paths,
// "/store_00010001/DCIM/100CANON/IMG_0001.JPG".
class GPhotoBackend : public DeviceBackend
{
public:
    explicit GPhotoBackend(std::shared_ptr<GPhotoApi> api);

    bool Owns(const QString &deviceId) const override;
    // Detects the cameras once and opens each, to name it by the maker and
    // model it reports itself (libgphoto2 knows many only by their class).
    HRESULT Enumerate(std::vector<DeviceEntry> &devices) override;
    HRESULT Open(const QString &deviceId, std::shared_ptr<DeviceSession> &session) override;

    static QString DeviceIdFor(const QString &port);

private:
    std::shared_ptr<GPhotoLink> LinkFor(const GPhotoCamera &camera);

    std::shared_ptr<GPhotoApi> api_;
    std::mutex mutex_;
    std::vector<GPhotoCamera> detected_;
    // The cameras of the last scan stay open until the next scan, for the
    // opens that follow it; sessions keep theirs as long as they live.
    std::vector<std::shared_ptr<GPhotoLink>> scanned_;
    std::map<QString, std::weak_ptr<GPhotoLink>> links_;
};

// The date given to objects whose device reports none.
inline constexpr char kUnknownWpdDate[] = "1899/12/30:00:00:00.000";
