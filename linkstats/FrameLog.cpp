#include "FrameLog.h"

#include <cstdlib>
#include <span>

#include "TraceLine.h"
#include "Wire.h"
#include "link/Txxx318.h"

namespace {

TTrafficLog* g_current = nullptr;

uint8_t KindOfLibrary(const std::string& library) {
    for (uint8_t kind = 0; kind < kKindCount; ++kind) {
        if (library == kInterfaceKinds[kind].libraryBase) return kind;
    }
    return 0xFF;
}

}  // namespace

void FramesOfTraceLine(std::string_view text, std::vector<TFrame>& frames) {
    // The quick test first: most lines of a busy line are Sends, but a
    // trace also holds Init, SetConfig and Done.
    if (text.find(" Send ") == std::string_view::npos) return;
    std::optional<TTraceLine> line = ParseTraceLine(text);
    if (!line || line->entry != "Send") return;

    TFrame request;
    request.time = std::move(line->time);
    request.kind = KindOfLibrary(line->library);
    request.result = line->result.value_or(0);
    request.micros = line->micros.value_or(0);
    if (line->request) {
        request.bytes = std::move(*line->request);
        if (const auto r = wire::DecodeRequest(request.bytes)) {
            request.address = r->address;
            request.command = r->command;
            request.index = r->index;
            request.data = r->data;
            request.decoded = true;
        } else if (request.bytes.size() >= 3) {
            // A request the codec refuses still names its module.
            request.address = request.bytes[1];
            request.command = request.bytes[2];
        }
    }
    for (TTraceReceived& received : line->received) {
        TFrame frame;
        frame.time = request.time;
        frame.sent = false;
        frame.kind = request.kind;
        frame.result = request.result;
        frame.micros = request.micros;
        frame.verdict = std::move(received.verdict);
        frame.bytes = std::move(received.bytes);
        if (const auto r = wire::DecodeReply(frame.bytes)) {
            frame.address = r->address;
            frame.command = r->command;
            frame.index = r->index;
            frame.data = r->data;
            frame.status = r->status;
            frame.decoded = true;
        } else {
            frame.address = request.address;
            frame.command = request.command;
        }
        frames.push_back(std::move(frame));
    }
    // The request goes before its answers.
    frames.insert(frames.end() - static_cast<std::ptrdiff_t>(line->received.size()), std::move(request));
}

void TFrameRing::Push(TFrame&& frame) {
    if (m_capacity == 0) return;
    if (m_frames.size() < m_capacity) {
        m_frames.push_back(std::move(frame));
    } else {
        m_frames[static_cast<std::size_t>(m_end % m_capacity)] = std::move(frame);
    }
    ++m_end;
}

const TFrame* TFrameRing::At(uint64_t number) const {
    if (number < First() || number >= m_end) return nullptr;
    // Until the ring is full, a frame's place is its number.
    return &m_frames[static_cast<std::size_t>(m_frames.size() < m_capacity ? number : number % m_capacity)];
}

static std::optional<std::string> InheritedTrace() {
    const char* value = std::getenv("RQ905_TRACE");
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

TTrafficLog::TTrafficLog(std::size_t capacity)
    : m_inheritedTrace(InheritedTrace()), m_frames(capacity), m_recorder(m_stats, std::nullopt) {
    m_recorder.SetLineListener([this](std::string_view lines) { AddLines(lines); });
    g_current = this;
}

TTrafficLog::~TTrafficLog() {
    if (g_current == this) g_current = nullptr;
    m_recorder.SetLineListener(nullptr);
    SetTraceFile(m_inheritedTrace.value_or(""));
}

TTrafficLog* TTrafficLog::Current() { return g_current; }

void TTrafficLog::ResetStats() {
    const std::lock_guard lock(Mutex());
    m_stats.Reset();
}

void TTrafficLog::AddLines(std::string_view lines) {
    m_traced = true;
    for (std::size_t from = 0; from < lines.size();) {
        std::size_t to = lines.find('\n', from);
        if (to == std::string_view::npos) to = lines.size();
        FramesOfTraceLine(lines.substr(from, to - from), m_parsed);
        from = to + 1;
    }
    for (TFrame& frame : m_parsed) m_frames.Push(std::move(frame));
    m_parsed.clear();
}
