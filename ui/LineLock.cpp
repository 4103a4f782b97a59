#include "ui/LineLock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <utility>

bool TLineLock::TryLock(const char* holder) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_holder != nullptr) return false;
    m_holder = holder != nullptr ? holder : "";
    return true;
}

void TLineLock::Unlock() {
    std::function<void()> request;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_holder = nullptr;
        request = std::exchange(m_releaseRequest, nullptr);
    }
}

const char* TLineLock::Holder() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_holder;
}

void TLineLock::SetReleaseRequest(std::function<void()> request) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_releaseRequest = std::move(request);
}

bool TLineLock::RequestRelease() {
    std::function<void()> request;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        request = m_releaseRequest;
    }
    // Called outside the mutex: the request may end in Unlock.
    if (!request) return false;
    request();
    return true;
}

TLineLock& ProgramLine() {
    static TLineLock line;
    return line;
}

bool TakeLine(TLineHold& hold, const char* holder, int timeoutMs) {
    if (hold.TryTake(holder)) return true;
    if (!hold.Line().RequestRelease()) return false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        // The scan's end is posted to the window; input waits, so no second
        // command starts meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        if (hold.TryTake(holder)) return true;
        QThread::msleep(2);
    }
    return false;
}
