#include "serial/PortTestDataEvent.h"

#include "platform/Messages.h"

namespace talvo {

PortTestDataEvent::PortTestDataEvent(std::shared_ptr<Handshake> handshake)
    : QEvent(WM_PORTTEST_DATA), Done(std::move(handshake)) {}

PortTestDataEvent::~PortTestDataEvent() {
    if (!Done) return;
    {
        std::lock_guard lock(Done->mutex);
        Done->done = true;
    }
    Done->cv.notify_all();
}

} // namespace talvo
