// The program's one line to the modules. Whoever talks to a module holds
// it: a poller for one tick (skipping the tick when the line is taken), a
// dialog or a sequence for as long as it runs, the bus scan for the whole
// scan. So two transactions never run at once, and no poll falls between
// the transactions of a dialog's sequence.
//
// A poller releases the line before it lets window events run, or a
// dialog opened from those events would find the line taken by a tick
// that is no longer running.
#pragma once

#include <functional>
#include <mutex>

class TLineLock {
  public:
    // false when another holder has the line. holder (Windows-1250, a
    // literal) names it to whoever finds the line taken.
    bool TryLock(const char* holder);
    void Unlock();
    // Who holds the line; nullptr when it is free.
    const char* Holder() const;

    // A holder that can give the line back early (the scan, which stops
    // within one transaction) says how to ask it; cleared by Unlock.
    void SetReleaseRequest(std::function<void()> request);
    // Asks the present holder to give the line back; false when it cannot
    // be asked.
    bool RequestRelease();

  private:
    mutable std::mutex m_mutex;
    const char* m_holder = nullptr;
    std::function<void()> m_releaseRequest;
};

// The line of the program's connection.
TLineLock& ProgramLine();

// Holds the line for a scope when it was free.
class TLineHold {
  public:
    explicit TLineHold(TLineLock& line = ProgramLine()) : m_line(&line) {}
    explicit TLineHold(const char* holder, TLineLock& line = ProgramLine()) : m_line(&line) {
        TryTake(holder);
    }
    ~TLineHold() { Release(); }
    TLineHold(const TLineHold&) = delete;
    TLineHold& operator=(const TLineHold&) = delete;

    explicit operator bool() const { return m_held; }
    bool TryTake(const char* holder) {
        if (!m_held) m_held = m_line->TryLock(holder);
        return m_held;
    }
    TLineLock& Line() const { return *m_line; }
    void Release() {
        if (m_held) m_line->Unlock();
        m_held = false;
    }

  private:
    TLineLock* m_line;
    bool m_held = false;
};

// For a command of the main window (a dialog, a configuration sequence):
// takes the line, asking a scan that holds it to stop and letting window
// events other than input run meanwhile, for at most timeoutMs. false when
// the line stayed taken.
bool TakeLine(TLineHold& hold, const char* holder, int timeoutMs = 3000);
