#pragma once

namespace tarvil {

// Marks a socket, serial-port or timer notification while it runs. A modal
// box opened inside one would run a nested event loop there, and Qt does not
// notify that source again until the handler has returned; such handlers
// record what happened and leave the box to Deferred.
class NotificationScope {
public:
    NotificationScope() { ++depth_; }
    ~NotificationScope() { --depth_; }
    NotificationScope(const NotificationScope &) = delete;
    NotificationScope &operator=(const NotificationScope &) = delete;
    static bool active() { return depth_ > 0; }

private:
    static inline int depth_ = 0;
};

// StopFlag: set once the user has confirmed closing the window. Nothing of
// the link starts or goes on after it; arriving bytes stay unread.
class StopFlag {
public:
    void set() { set_ = true; }
    void clear() { set_ = false; }
    bool isSet() const { return set_; }

private:
    bool set_ = false;
};

} // namespace tarvil
