#pragma once

#include <mutex>

// exiv2 is set up once for the whole program, and its callers take turns.
// Its set-up is not safe to enter from two threads, and reading a file's XMP
// may add to the namespace table that the XMP toolkit shares between all its
// callers. So every call into exiv2 — opening an image, reading its
// metadata, decoding an XMP packet, taking a preview out of it — is made
// while holding the lock this returns; the first holder sets exiv2 up
// (messages muted: broken files are expected, and what went wrong reaches
// the caller through exiv2's exceptions; ISO base media files read).
[[nodiscard]] std::unique_lock<std::mutex> Exiv2Access();
