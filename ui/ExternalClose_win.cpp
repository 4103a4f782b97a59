// A Windows GUI program gets no termination signals: logging off or ending
// it from the task manager sends its window a close, which Qt turns into the
// ordinary close of the main window.
#include "ui/ExternalClose.h"

struct TExternalClose::TState {};

TExternalClose::TExternalClose(std::function<void()>, std::function<void()>) {}

TExternalClose::~TExternalClose() = default;
