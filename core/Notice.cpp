#include "core/Notice.h"

#include <iostream>
#include <utility>

#include "core/Cp1250.h"

namespace {

TNoticeListener& Listener() {
    static TNoticeListener listener;
    return listener;
}

}  // namespace

void SetNoticeListener(TNoticeListener listener) { Listener() = std::move(listener); }

void FileNotice(const std::string& path, const std::string& text) {
    std::cerr << path << Cp1250ToUtf8(text) << std::endl;
    if (!Listener()) return;
#ifdef _WIN32
    // The ANSI code page of a Czech Windows is Windows-1250 already.
    Listener()(path + text);
#else
    Listener()(Utf8ToCp1250(path) + text);
#endif
}
