#pragma once
// Runs a handler on an object's own thread when another thread asks for it.
//
// The worker writes to an eventfd; a socket notifier in the owner's thread
// wakes its event loop, reads the count and runs the handler once per
// request.  Nothing is allocated on one thread and freed on the other, and
// the write/read pair is a hand-over that every tool (ThreadSanitizer
// included) sees as synchronisation, unlike Qt's internal queue lock.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace talvo {

class ThreadNotifier : public QObject {
public:
    // Must be created, and destroyed, on the thread that is to run `handler`.
    explicit ThreadNotifier(std::function<void()> handler, QObject* parent = nullptr);
    ~ThreadNotifier() override;

    // False when no eventfd could be made (the process ran out of descriptors).
    bool valid() const { return Fd >= 0; }
    // Any thread: the handler runs once more on the owner's thread.
    void notify();

private:
    void drain();

    int Fd = -1;
    QSocketNotifier* Notifier = nullptr;
    std::function<void()> Handler;
};

} // namespace talvo
