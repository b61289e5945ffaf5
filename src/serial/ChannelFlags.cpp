#include "serial/ChannelFlags.h"

namespace talvo {

std::atomic<int> IsFun{0};
std::atomic<int> IsStop{0};
std::atomic<int> ReplyDelayMs{0};
std::atomic<bool> PortTestMode{false};

} // namespace talvo
