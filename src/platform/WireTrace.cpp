#include "platform/WireTrace.h"

#include <QByteArray>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <sys/stat.h>

namespace talvo {

namespace {

struct TraceState {
    std::mutex mutex;
    std::FILE* out = nullptr;
    bool ownsFile = false;
    std::chrono::steady_clock::time_point start;
    std::atomic<bool> on{false};
};

TraceState& state() {
    static TraceState s;
    return s;
}

// Closes the current target; caller holds the mutex.
void closeLocked(TraceState& s) {
    if (s.out && s.ownsFile) std::fclose(s.out);
    s.out = nullptr;
    s.ownsFile = false;
    s.on.store(false, std::memory_order_release);
}

bool openLocked(TraceState& s, const QString& target, QString* error) {
    closeLocked(s);
    if (target.isEmpty()) return true;
    if (target == QLatin1String("-") || target == QLatin1String("1")) {
        s.out = stderr;
        s.ownsFile = false;
    } else {
        s.out = std::fopen(QFile::encodeName(target).constData(), "a");
        if (!s.out) {
            if (error)
                *error = QStringLiteral("cannot open the wire trace file %1: %2")
                             .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        s.ownsFile = true;
    }
    s.start = std::chrono::steady_clock::now();
    s.on.store(true, std::memory_order_release);
    return true;
}

void initialiseFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QByteArray value = qgetenv(WireTrace::kEnvironmentVariable);
        if (value.isEmpty()) return;
        TraceState& s = state();
        std::lock_guard lock(s.mutex);
        QString error;
        if (!openLocked(s, QString::fromLocal8Bit(value), &error))
            std::fprintf(stderr, "talvo: %s\n", error.toLocal8Bit().constData());
    });
}

void writeLine(const QString& device, const char* direction, const QString& middle, const QByteArray& rest) {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.out) return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - s.start)
                        .count();
    std::fprintf(s.out, "+%lld.%06lld %s %s %s%s\n", static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000), device.toUtf8().constData(), direction,
                 middle.toUtf8().constData(), rest.constData());
    std::fflush(s.out);
}

} // namespace

bool WireTrace::enable(const QString& target, QString* error) {
    initialiseFromEnvironment();
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    return openLocked(s, target, error);
}

void WireTrace::disable() {
    initialiseFromEnvironment();
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    closeLocked(s);
}

bool WireTrace::takeOption(QStringList& args, QString* error) {
    bool ok = true;
    for (qsizetype i = 0; i < args.size();) {
        const QString& a = args[i];
        if (a == QLatin1String("--trace")) {
            ok = enable(QStringLiteral("-"), error) && ok;
            args.removeAt(i);
        } else if (a.startsWith(QLatin1String("--trace="))) {
            const QString target = a.mid(8);
            if (target.isEmpty()) {
                if (error) *error = QStringLiteral("--trace= needs a file name");
                ok = false;
            } else {
                ok = enable(target, error) && ok;
            }
            args.removeAt(i);
        } else {
            ++i;
        }
    }
    return ok;
}

bool WireTrace::writesTo(const QString& path) {
    initialiseFromEnvironment();
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.out || !s.ownsFile) return false;
    struct stat trace {}, file {};
    return ::fstat(::fileno(s.out), &trace) == 0 && ::stat(QFile::encodeName(path).constData(), &file) == 0 &&
           trace.st_dev == file.st_dev && trace.st_ino == file.st_ino;
}

bool WireTrace::enabled() {
    initialiseFromEnvironment();
    return state().on.load(std::memory_order_acquire);
}

void WireTrace::bytes(const QString& device, const char* direction, const LineSettings& settings,
                      const uint8_t* data, size_t n) {
    if (!enabled()) return;
    QByteArray hex;
    hex.reserve(static_cast<qsizetype>(n * 3 + 2));
    hex += ':';
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        hex += ' ';
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    if (n == 0) hex += " (none)";
    writeLine(device, direction, describe(settings), hex);
}

void WireTrace::note(const QString& device, const QString& text) {
    if (!enabled()) return;
    writeLine(device, "--", QStringLiteral("note: ") + text, QByteArray());
}

QString WireTrace::describe(const LineSettings& settings) {
    static const char parityLetters[] = "NOEMS";
    const char parity = settings.parity < 5 ? parityLetters[settings.parity] : '?';
    const char* stop = settings.stopBits == 1 ? "1.5" : settings.stopBits == 2 ? "2" : "1";
    return QStringLiteral("%1 %2%3%4")
        .arg(settings.baud)
        .arg(settings.dataBits)
        .arg(QLatin1Char(parity))
        .arg(QLatin1String(stop));
}

} // namespace talvo
