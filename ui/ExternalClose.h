// Ends that reach the program from outside its windows: a termination
// signal, or the display going away. Both must save the settings and end
// the link as closing the main window does.
#pragma once

#include <functional>
#include <memory>

class TExternalClose {
  public:
    // closeWindow: the ordinary close of the main window, run from the event loop,
    // so a signal that comes during a blocking call takes effect when the
    // call returns. closeStep: the window's close step alone, for an end
    // that leaves no event loop to run it.
    TExternalClose(std::function<void()> closeWindow, std::function<void()> closeStep);
    ~TExternalClose();
    TExternalClose(const TExternalClose&) = delete;
    TExternalClose& operator=(const TExternalClose&) = delete;

  private:
    struct TState;
    std::unique_ptr<TState> m_state;
};
