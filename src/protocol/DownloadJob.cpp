#include "protocol/DownloadJob.h"

namespace talvo::protocol {

DownloadReport RunDownload(DownloadHost& host, const DownloadJob& job) {
    if (IsStm32ChipType(job.chipType)) {
        return DownloadStm32(host, {job.image, job.verify, job.address, job.massErase, job.unprotect, job.go, job.stm32Baud});
    }
    StcOptions options;
    options.chipType = job.chipType;
    options.lowSpeed = job.lowSpeed;
    options.driverParameter = job.stcDriverParameter;
    options.image = job.image;
    options.autoFamily = job.stcAuto;
    options.userHz = job.stcUserHz;
    options.transferBaud = job.stcBaud;
    return CMcuType(host, std::move(options)).RunStcDownload();
}

} // namespace talvo::protocol
