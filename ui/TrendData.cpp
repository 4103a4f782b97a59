#include "ui/TrendData.h"

#include <cstdio>

#include "core/CsvRecord.h"
#include "core/IntText.h"
#include "core/LocalTime.h"

namespace {

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

void AddByte(std::vector<std::string>& fields, bool known, uint8_t value) {
    fields.push_back(known ? IntToStr(value) : "");
    for (unsigned n = 0; n < 8; ++n) fields.push_back(known ? IntToStr((value >> n) & 1) : "");
}

}  // namespace

TTrendSample::TTrendSample(const TTrendReading& r)
    : m_head((static_cast<uint64_t>(r.unixMs) & kTimeMask) | (uint64_t{r.errorCode} << kCodeShift) |
             (r.inputsRead ? kInputsRead : 0) | (r.statusRead ? kStatusRead : 0) |
             (r.doutKnown ? kDoutKnown : 0) | (r.pwmKnown ? kPwmKnown : 0)),
      m_status(r.status),
      m_pwm(r.pwm),
      m_inputs(r.inputs),
      m_dout(r.dout) {}

int64_t TTrendSample::UnixMs() const { return static_cast<int64_t>(m_head & kTimeMask); }

TTrendReading TTrendSample::Reading() const {
    TTrendReading r;
    r.unixMs = UnixMs();
    r.errorCode = static_cast<uint8_t>(m_head >> kCodeShift);
    r.inputsRead = InputsRead();
    r.statusRead = StatusRead();
    r.doutKnown = DoutKnown();
    r.pwmKnown = PwmKnown();
    r.inputs = m_inputs;
    r.status = m_status;
    r.dout = m_dout;
    r.pwm = m_pwm;
    return r;
}

TTrendRing::TTrendRing(std::size_t capacity) : m_capacity(capacity > 0 ? capacity : 1) {
    m_samples.reserve(m_capacity);
}

void TTrendRing::Push(const TTrendReading& r) {
    TTrendReading in = r;
    if (Size() > 0 && in.unixMs < At(Size() - 1).UnixMs()) in.unixMs = At(Size() - 1).UnixMs();
    if (m_samples.size() < m_capacity) {
        m_samples.emplace_back(in);
        return;
    }
    m_samples[m_first] = TTrendSample(in);
    m_first = m_first + 1 == m_capacity ? 0 : m_first + 1;
}

void TTrendRing::Clear() {
    m_samples.clear();
    m_first = 0;
}

std::string TrendCsvHeader() {
    std::vector<std::string> fields{"time", "inputs"};
    for (unsigned n = 0; n < 8; ++n) fields.push_back("din" + IntToStr(n));
    fields.push_back("outputs");
    for (unsigned n = 0; n < 8; ++n) fields.push_back("dout" + IntToStr(n));
    fields.insert(fields.end(), {"pwm", "status", "status_hex"});
    for (const TStatusBitName& b : kTrendStatusBits) fields.push_back(b.name);
    fields.insert(fields.end(), {"error_code", "error_text"});
    return CsvLine(fields);
}

std::string TrendCsvLine(const TTrendReading& r, const std::string& errorText) {
    std::vector<std::string> fields{LocalTimeAt(r.unixMs).iso};
    AddByte(fields, r.inputsRead, r.inputs);
    AddByte(fields, r.doutKnown, r.dout);
    fields.push_back(r.pwmKnown ? IntToStr(r.pwm) : "");
    fields.push_back(r.statusRead ? std::to_string(r.status) : "");
    fields.push_back(r.statusRead ? Hex(r.status, 8) : "");
    for (const TStatusBitName& b : kTrendStatusBits) {
        fields.push_back(r.statusRead ? IntToStr((r.status >> b.bit) & 1) : "");
    }
    fields.push_back(r.errorCode != 0 ? IntToStr(r.errorCode) : "");
    fields.push_back(r.errorCode != 0 ? errorText : "");
    return CsvLine(fields);
}
