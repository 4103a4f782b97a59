#include "StatsRecorder.h"

#include <cstdlib>

#include "TraceLine.h"
#include "TraceSink.h"
#include "link/Txxx318.h"

namespace {

// The trace file is emptied once it holds this much: a watch may run for
// weeks.
constexpr std::size_t kTraceFileLimit = 1 << 20;
// Without a trace to pass on, the file is read this seldom: each line
// names its request's address, so nothing is lost by waiting, and a
// transaction costs no read of its own.
constexpr uint32_t kTraceReadEvery = 256;

}  // namespace

void SetTraceFile(const std::string& path) {
#ifdef _WIN32
    _putenv_s("RQ905_TRACE", path.c_str());
#else
    ::setenv("RQ905_TRACE", path.c_str(), 1);
#endif
}

TStatsRecorder::TStatsRecorder(TLinkStats& stats, const std::optional<std::string>& userTrace)
    : m_stats(stats) {
    // A trace the user set in the environment is passed on as well.
    const char* inherited = std::getenv("RQ905_TRACE");
    const std::optional<std::string> wanted =
        userTrace ? userTrace
                  : (inherited != nullptr && *inherited != '\0' ? std::optional<std::string>(inherited)
                                                                : std::nullopt);
    m_forwardName = wanted;
    SetTraceFile(m_file.Valid() ? m_file.Name() : wanted.value_or(""));
    SetTransactionObserver(&TStatsRecorder::Observe, this);
}

TStatsRecorder::~TStatsRecorder() { Finish(); }

void TStatsRecorder::SetLineListener(TLineListener listener) {
    const std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

void TStatsRecorder::Poll() {
    const std::lock_guard lock(m_mutex);
    ReadTrace();
}

void TStatsRecorder::Finish() {
    const std::lock_guard lock(m_mutex);
    if (m_finished) return;
    m_finished = true;
    SetTransactionObserver(nullptr, nullptr);
    ReadTrace();
    if (!m_traced) m_stats.SetRefusedUnknown();
}

void TStatsRecorder::Observe(void* self, uint8_t address, uint32_t result, uint32_t micros) {
    auto* recorder = static_cast<TStatsRecorder*>(self);
    const std::lock_guard lock(recorder->m_mutex);
    recorder->m_stats.Add(address, result, micros);
    recorder->m_lastAddress = address;
    // A trace the user reads is passed on as it comes.
    if (recorder->m_forwardName || ++recorder->m_unread >= kTraceReadEvery) recorder->ReadTrace();
}

void TStatsRecorder::Forward(std::string_view initLine) {
    if (!m_forwardName) return;
    // The sink keeps the library's name by pointer.
    m_forward.reset();
    const std::optional<TTraceLine> parsed = ParseTraceLine(initLine);
    m_forwardLibrary = parsed ? parsed->library : "rq905";
    m_forward = drv::OpenTraceSink(m_forwardName->c_str(), m_forwardLibrary.c_str());
}

void TStatsRecorder::ReadTrace() {
    m_unread = 0;
    if (!m_file.Valid()) return;
    const std::size_t before = m_pending.size();
    m_file.ReadNew(m_pending);
    if (m_pending.size() == before) return;
    const std::size_t end = m_pending.rfind('\n');
    if (end == std::string::npos) return;
    const std::string_view lines(m_pending.data(), end + 1);
    if (m_listener) m_listener(lines);
    for (std::size_t from = 0; from < lines.size();) {
        const std::size_t to = lines.find('\n', from);
        const std::string_view line = lines.substr(from, to - from);
        const std::string_view withEnd = lines.substr(from, to + 1 - from);
        from = to + 1;
        const bool init = line.find(" Init ") != std::string_view::npos;
        if (init) Forward(line);
        if (m_forward) m_forward->Append(withEnd);
        // A new connection counts from zero.
        if (init) {
            m_traced = m_traced || line.find("| result 0 |") != std::string_view::npos;
            m_echoTotal = 0;
            continue;
        }
        if (const auto echo = RefusedEcho(line)) {
            if (*echo > m_echoTotal)
                m_stats.AddRefused(RequestAddress(line).value_or(m_lastAddress), *echo - m_echoTotal);
            m_echoTotal = *echo;
        }
    }
    m_pending.erase(0, end + 1);
    // Only whole lines have been read, so the file may start again.
    if (m_pending.empty() && m_file.ReadSoFar() >= kTraceFileLimit) m_file.Empty();
}
