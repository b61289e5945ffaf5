// A floor-1 header that includes the floor above it: the floor check must refuse it.
#include "host/SerialDownloadHost.h"
