#pragma once
// The serial reader's delivery to the port test window.

#include <QEvent>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace talvo {

// What the reader delivers to the port test window.  The reader waits until
// the event has been handled (or dropped): its destructor releases it.
class PortTestDataEvent : public QEvent {
public:
    struct Handshake {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;      // the event was handled (or dropped with its target)
        bool cancelled = false; // the channel stopped waiting
        // Guarded by the channel's mutex: a request of the notifier has taken
        // this delivery.  A request left over from a cancelled delivery finds it
        // taken and does not deliver it a second time.
        bool taken = false;
    };
    explicit PortTestDataEvent(std::shared_ptr<Handshake> handshake);
    ~PortTestDataEvent() override;

private:
    std::shared_ptr<Handshake> Done;
};

} // namespace talvo
