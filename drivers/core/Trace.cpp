#include "Trace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace drv {

namespace {

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Taken:
            return "taken";
        case Verdict::Address:
            return "ignored address";
        case Verdict::Tag:
            return "ignored tag";
        case Verdict::Echo:
            return "ignored echo";
        case Verdict::Damaged:
            return "ignored crc";
        case Verdict::Noise:
            return "ignored noise";
        case Verdict::Incomplete:
            return "incomplete";
        case Verdict::Duplicate:
            return "duplicate";
    }
    return "?";
}

void AppendNumber(std::string& out, std::uint64_t value) { out += std::to_string(value); }

}  // namespace

Verdict WhyRefused(const wire::Reply& reply, const wire::Request& request) {
    if (reply.address != request.address) {
        return Verdict::Address;
    }
    return reply.tag != request.tag ? Verdict::Tag : Verdict::Echo;
}

std::unique_ptr<Tracer> Tracer::FromEnvironment(const char* library) {
    auto sink = OpenTraceSink(std::getenv(kTraceVariable), library);
    return sink ? std::make_unique<Tracer>(std::move(sink), library) : nullptr;
}

Tracer::Tracer(std::shared_ptr<TraceSink> sink, const char* library)
    : m_sink(std::move(sink)), m_library(library), m_pid(ProcessId()) {}

std::string Tracer::Begin(std::chrono::system_clock::time_point time, const char* entry) const {
    std::string line;
    line.reserve(256);
    AppendLocalTime(line, time);
    char head[64];
    std::snprintf(head, sizeof head, " %u %s %08X %s", static_cast<unsigned>(m_pid), m_library,
                  static_cast<unsigned>(m_handle), entry);
    line += head;
    return line;
}

void Tracer::End(std::string& line, Result result) {
    line += " | result ";
    AppendNumber(line, Code(result));
}

void Tracer::Init(std::uint32_t handle, std::string_view arguments, Result result,
                  std::chrono::microseconds elapsed) {
    m_handle = handle;
    std::string line = Begin(std::chrono::system_clock::now(), "Init ");
    line += arguments;
    End(line, result);
    line += " | ";
    AppendNumber(line, static_cast<std::uint64_t>(elapsed.count()));
    line += " us\n";
    m_sink->Append(line);
}

void Tracer::SetConfig(std::uint32_t speed, std::uint32_t value, std::uint32_t mode, Result result) {
    std::string line = Begin(std::chrono::system_clock::now(), "SetConfig speed ");
    AppendNumber(line, speed);
    line += " value ";
    AppendNumber(line, value);
    line += " mode ";
    AppendNumber(line, mode);
    End(line, result);
    line += '\n';
    m_sink->Append(line);
}

void Tracer::Send(std::chrono::system_clock::time_point start, const TraceRecord& record, Result result,
                  std::chrono::microseconds elapsed, const Refused* refused) {
    std::string line = Begin(start, "Send ");
    if (record.request) {
        wire::AppendHex(line, *record.request);
    } else {
        line += '-';
    }
    for (const auto& received : record.received) {
        line += " | ";
        wire::AppendHex(line, received.bytes);
        line += ' ';
        line += VerdictText(received.verdict);
    }
    End(line, result);
    line += " | ";
    AppendNumber(line, static_cast<std::uint64_t>(elapsed.count()));
    line += " us";
    if (refused != nullptr) {
        line += " | refused damaged ";
        AppendNumber(line, refused->damaged);
        line += " echo ";
        AppendNumber(line, refused->echo);
    }
    line += '\n';
    m_sink->Append(line);
}

void Tracer::Done(Refused refused) {
    std::string line = Begin(std::chrono::system_clock::now(), "Done refused damaged ");
    AppendNumber(line, refused.damaged);
    line += " echo ";
    AppendNumber(line, refused.echo);
    End(line, Result::Ok);
    line += '\n';
    m_sink->Append(line);
}

void AppendLocalTime(std::string& out, std::chrono::system_clock::time_point time) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(us / 1'000'000);
    // The date and time change once a second; a trace writes many lines a second.
    thread_local std::time_t cachedSecond = -1;
    thread_local char cached[32] = {};
    if (seconds != cachedSecond) {
        std::tm local{};
        LocalTime(seconds, local);
        std::strftime(cached, sizeof cached, "%Y-%m-%d %H:%M:%S", &local);
        cachedSecond = seconds;
    }
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06d", static_cast<int>(us % 1'000'000));
    out += cached;
    out += fraction;
}

}  // namespace drv
