#pragma once
// The main window's image lock as a scope: while an ImageLock holds a window, the main
// window's operations work on it, whichever window the user activates meanwhile. Leaving the
// scope in any way (a return, a failed allocation, an exception) releases the lock, so no path
// can leave every later operation bound to this window.
#include <utility>

class mdiImage;
class Verdanix;

class ImageLock {
public:
    // No window: nothing is locked, and nothing is released.
    ImageLock() = default;
    ImageLock(Verdanix *owner, mdiImage *window) : owner(owner), window(window) {}
    ImageLock(ImageLock &&other) noexcept
        : owner(std::exchange(other.owner, nullptr)), window(std::exchange(other.window, nullptr))
    {
    }
    ImageLock(const ImageLock &) = delete;
    ImageLock &operator=(const ImageLock &) = delete;
    ImageLock &operator=(ImageLock &&) = delete;
    ~ImageLock();

    mdiImage *get() const { return window; }
    mdiImage *operator->() const { return window; }
    operator mdiImage *() const { return window; }

private:
    Verdanix *owner = nullptr;
    mdiImage *window = nullptr;
};
