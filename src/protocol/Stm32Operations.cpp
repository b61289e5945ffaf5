// The STM32 operations beside the download: the read-out of a memory range,
// Readout Protect and Readout Unprotect.
#include <QCoreApplication>

#include <algorithm>

#include "protocol/Stm32Session.h"
#include "protocol/Stm32Link.h"

namespace talvo::protocol {

using stm32::Hex8;
using stm32::Span;
using stm32::Stm32Link;

Stm32ReadOut ReadStm32(DownloadHost& host, const Stm32ReadOptions& options) {
    Stm32Link link(host, options.baud);
    Stm32ReadOut out;
    out.address = options.address;
    auto done = [&] {
        out.report = link.report();
        return out;
    };
    if (!link.Connect() ||
        !link.Identify(Stm32Link::OnProtected::Refuse,
                       QCoreApplication::translate("Stm32Operations", "，FLASH中的内容无法读出（读保护正是为此）")))
        return done();

    // The range: by default from the address up to the end of the flash.
    const uint64_t first = options.address;
    uint64_t end = first + options.length;
    if (options.length == 0) {
        const uint64_t flashEnd = link.flashEnd();
        if (flashEnd == 0) {
            link.Fail(
                {QCoreApplication::translate("Stm32Operations", "FLASH的大小未知（芯片ID 0x%1）：请给出要读出的长度")
                     .arg(link.pid(), 4, 16, QLatin1Char('0'))});
            return done();
        }
        if (first < kStm32FlashBase || first >= flashEnd) {
            link.Fail(
                {QCoreApplication::translate("Stm32Operations", "地址 %1 不在芯片FLASH %2 之内：请给出要读出的长度")
                     .arg(Hex8(options.address), Span(kStm32FlashBase, flashEnd))});
            return done();
        }
        end = flashEnd;
    }
    if (end > 0x100000000ull) {
        link.Fail({QCoreApplication::translate("Stm32Operations", "读出范围 %1 起 %2 字节超出 32 位地址空间")
                       .arg(Hex8(options.address))
                       .arg(end - first)});
        return done();
    }
    // A range that begins in the flash and runs past its end is a slip.
    if (link.flashEnd() > 0 && first >= kStm32FlashBase && first < link.flashEnd() && end > link.flashEnd()) {
        link.Fail({QCoreApplication::translate("Stm32Operations", "读出范围 %1 超出芯片FLASH %2（%3 KB），未读出")
                       .arg(Span(first, end), Span(kStm32FlashBase, link.flashEnd()))
                       .arg(link.flashKb())});
        return done();
    }

    const auto total = static_cast<int>(end - first);
    host.Log(
        QCoreApplication::translate("Stm32Operations", "正在读出 %1（%2 字节）...").arg(Span(first, end)).arg(total));
    const int reads = Stm32BlockCount(total);
    out.data.reserve(total);
    for (int i = 1; i <= reads; ++i) {
        const uint64_t at = first + static_cast<uint64_t>(i - 1) * kStm32BlockSize;
        const int count = static_cast<int>(std::min<uint64_t>(kStm32BlockSize, end - at));
        if (!link.ReadMemory(static_cast<uint32_t>(at), count)) return done();
        out.data.append(link.reply().mid(1, count));
        link.report().bytes = static_cast<int>(out.data.size());
        host.Progress(Stm32Progress(i, reads));
    }
    link.Finish(
        {QCoreApplication::translate("Stm32Operations", "读出完成：%1，共 %2 字节").arg(Span(first, end)).arg(total)});
    return done();
}

Stm32Report ProtectStm32(DownloadHost& host, uint32_t baud) {
    Stm32Link link(host, baud);
    if (!link.Connect() || !link.Identify(Stm32Link::OnProtected::Accept)) return link.report();
    if (link.report().readProtected) {
        link.Finish({QCoreApplication::translate("Stm32Operations", "读保护本已开启：未做任何改动")});
        return link.report();
    }
    if (!link.Protect()) return link.report();
    link.Finish({QCoreApplication::translate(
        "Stm32Operations", "读保护已开启：FLASH不能再经引导程序读出或写入；解除读保护会擦除整个芯片")});
    return link.report();
}

Stm32Report UnprotectStm32(DownloadHost& host, uint32_t baud) {
    Stm32Link link(host, baud);
    if (!link.Connect() || !link.Identify(Stm32Link::OnProtected::Unprotect)) return link.report();
    link.Finish({link.report().unprotected
                     ? QCoreApplication::translate("Stm32Operations", "读保护已解除：FLASH已擦除，可以下载")
                     : QCoreApplication::translate("Stm32Operations", "芯片未开启读保护：未做任何改动")});
    return link.report();
}

} // namespace talvo::protocol
