#include "Exiv2Access.h"

#include <exiv2/bmffimage.hpp>
#include <exiv2/exiv2.hpp>

std::unique_lock<std::mutex> Exiv2Access()
{
    static std::mutex mutex;
    static bool ready = false;
    std::unique_lock<std::mutex> lock(mutex);
    if (!ready) {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // No lock function for the toolkit: nothing reaches it without
        // holding ours.
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
        ready = true;
    }
    return lock;
}
