// A floor-2 header that includes floors below it: allowed.
#include "serial/SerialChannel.h"
#include "protocol/DownloadHost.h"
