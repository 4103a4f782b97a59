#include "core/ConfigRegisters.h"

#include "core/IntText.h"

TModuleLink LinkOf(const TData& data) { return TModuleLink{data.Kind, data.Handle, data.ModuleAddress}; }

uint8_t ReadRegister(const TModuleLink& link, uint8_t reg, uint8_t& value, uint8_t echo) {
    uint8_t d0 = 0, d1 = reg, d2 = reg, d3 = echo, d4 = echo, status = 0;
    TCellBlock reply{};
    ModuleTransaction(link.kind, link.handle, link.address, kCmdReadRegister, 0, d0, d1, d2, d3, d4, status,
                      reply);
    if (status == 0) value = d3;
    return status;
}

uint8_t WriteRegister(const TModuleLink& link, uint8_t reg, uint8_t value) {
    uint8_t d0 = 0, d1 = reg, d2 = reg, d3 = value, d4 = value, status = 0;
    TCellBlock reply{};
    ModuleTransaction(link.kind, link.handle, link.address, kCmdWriteRegister, 0, d0, d1, d2, d3, d4, status,
                      reply);
    return status;
}

TWriteOutcome WriteAndVerify(const TModuleLink& link, uint8_t reg, uint8_t value, TReadBack readBack,
                             const std::function<void()>& between) {
    uint8_t status = WriteRegister(link, reg, value);
    if (status != 0) return {status, ResultMessage(link.kind, status)};
    if (between) between();
    uint8_t readValue = 0;
    status = ReadRegister(link, reg, readValue, readBack == TReadBack::Echo ? value : uint8_t{0});
    if (status != 0) return {status, ResultMessage(link.kind, status)};
    if (readValue != value) return {kWriteMismatch, kMismatchText, true};
    return {};
}

// Texts are built by appending: GCC 12 at -O3 reports a false overlap
// (-Wrestrict) in `"literal" + std::string`.
std::string ProgressText(const char* prefix, unsigned percent) {
    return std::string(prefix).append(IntToStr(percent)).append(" %)");
}

namespace {

// One accessor pair per register: the value written, and where a value
// read lands in the record.
uint8_t BusAddressOf(const TModuleConfig& c) { return c.BusAddress; }
void StoreBusAddress(TModuleConfig& c, const TRegisterValues& v) { c.BusAddress = v[kRegBusAddress]; }
uint8_t SpeedIndexOf(const TModuleConfig& c) { return c.SpeedIndex; }
void StoreSpeedIndex(TModuleConfig& c, const TRegisterValues& v) { c.SpeedIndex = v[kRegSpeedIndex]; }

uint8_t DoutInitialOf(const TModuleConfig& c) { return c.DoutInitial[0]; }
void StoreDoutInitial(TModuleConfig& c, const TRegisterValues& v) { c.DoutInitial[0] = v[kRegDoutInitial]; }
uint8_t DinNegationOf(const TModuleConfig& c) { return c.DinNegation[0]; }
void StoreDinNegation(TModuleConfig& c, const TRegisterValues& v) { c.DinNegation[0] = v[kRegDinNegation]; }
uint8_t DoutNegationOf(const TModuleConfig& c) { return c.DoutNegation[0]; }
void StoreDoutNegation(TModuleConfig& c, const TRegisterValues& v) {
    c.DoutNegation[0] = v[kRegDoutNegation];
}

uint8_t PwmLowOf(const TModuleConfig& c) { return static_cast<uint8_t>(c.PwmInitial % 256); }
uint8_t PwmHighOf(const TModuleConfig& c) { return static_cast<uint8_t>(c.PwmInitial / 256); }
// The low byte alone would leave a half-read value in the record: it takes
// effect only together with the high byte.
void StorePwmInitial(TModuleConfig& c, const TRegisterValues& v) {
    c.PwmInitial = static_cast<uint16_t>(v[kRegPwmInitialHigh] * 256 + v[kRegPwmInitialLow]);
}
uint8_t PwmModeOf(const TModuleConfig& c) { return c.PwmMode; }
void StorePwmMode(TModuleConfig& c, const TRegisterValues& v) { c.PwmMode = v[kRegPwmMode]; }

// The digital I/O registers are groups of elements, element i of group g at
// base + 3i; the percentage counts four slots per group over twelve.
constexpr uint8_t GroupPercent(unsigned group, unsigned element) {
    return static_cast<uint8_t>((4 * group + element + 1) * 100 / 12);
}

constexpr std::array kAddressSpeedFields{
    TRegisterField{kRegBusAddress, 50, BusAddressOf, StoreBusAddress},
    TRegisterField{kRegSpeedIndex, 100, SpeedIndexOf, StoreSpeedIndex},
};
constexpr std::array kDigitalIoFields{
    TRegisterField{kRegDoutInitial, GroupPercent(0, 0), DoutInitialOf, StoreDoutInitial},
    TRegisterField{kRegDinNegation, GroupPercent(1, 0), DinNegationOf, StoreDinNegation},
    TRegisterField{kRegDoutNegation, GroupPercent(2, 0), DoutNegationOf, StoreDoutNegation},
};
constexpr std::array kPwmFields{
    TRegisterField{kRegPwmInitialLow, 33, PwmLowOf, nullptr},
    TRegisterField{kRegPwmInitialHigh, 66, PwmHighOf, StorePwmInitial},
    TRegisterField{kRegPwmMode, 100, PwmModeOf, StorePwmMode},
};

// Pause after a successful transaction number `done` (counted from 1) of
// `total`, as the sequence's rule asks.
void PauseAfter(const TRegisterSequence& sequence, const TSequenceHooks& hooks, std::size_t done,
                std::size_t total) {
    if (!hooks.pause) return;
    if (sequence.pauses == TPauses::AfterEach || (sequence.pauses == TPauses::Between && done < total)) {
        hooks.pause();
    }
}

void Show(const TSequenceHooks& hooks, const std::string& text) {
    if (hooks.show) hooks.show(text);
}

// A failed result is shown as a blank and its text.
void ShowFailure(const TSequenceHooks& hooks, const std::string& text) {
    if (hooks.show) hooks.show(std::string(" ").append(text));
}

bool StopAsked(const TSequenceHooks& hooks) { return hooks.proceed && !hooks.proceed(); }

}  // namespace

const TRegisterSequence kAddressSpeedRegisters{kAddressSpeedFields, TPauses::Between, TReadBack::Zeros};
const TRegisterSequence kDigitalIoRegisters{kDigitalIoFields, TPauses::AfterEach, TReadBack::Zeros};
const TRegisterSequence kPwmRegisters{kPwmFields, TPauses::None, TReadBack::Echo};

TSequenceOutcome ReadConfig(const TData& data, const TRegisterSequence& sequence, TModuleConfig& config,
                            const TSequenceHooks& hooks) {
    if (!IsConnected(data)) return {TSequenceResult::NotConnected, 0, 0};
    Show(hooks, ProgressText(kReadProgressText, 0));
    const TModuleLink link = LinkOf(data);
    TRegisterValues read{};
    const std::size_t total = sequence.fields.size();
    for (std::size_t i = 0; i < total; ++i) {
        const TRegisterField& field = sequence.fields[i];
        if (StopAsked(hooks)) return {TSequenceResult::Stopped, 0, field.reg};
        const uint8_t status = ReadRegister(link, field.reg, read[field.reg]);
        // A stop asked for meanwhile may have cut the transaction short.
        if (status != 0 && StopAsked(hooks)) return {TSequenceResult::Stopped, 0, field.reg};
        if (status != 0) {
            ShowFailure(hooks, ResultMessage(link.kind, status));
            return {TSequenceResult::TransactionFailed, status, field.reg};
        }
        if (field.store != nullptr) field.store(config, read);
        Show(hooks, ProgressText(kReadProgressText, field.percent));
        PauseAfter(sequence, hooks, i + 1, total);
    }
    Show(hooks, kReadDoneText);
    return {};
}

TSequenceOutcome WriteConfig(const TData& data, const TRegisterSequence& sequence,
                             const TModuleConfig& config, const TSequenceHooks& hooks) {
    if (!IsConnected(data)) return {TSequenceResult::NotConnected, 0, 0};
    Show(hooks, ProgressText(kWriteProgressText, 0));
    const TModuleLink link = LinkOf(data);
    const TModuleConfig values = config;
    // A write always has its read-back after it, so the pause between the
    // two is due under either rule that pauses at all.
    std::function<void()> between;
    if (sequence.pauses != TPauses::None && hooks.pause) between = hooks.pause;
    const std::size_t total = sequence.fields.size() * 2;
    for (std::size_t i = 0; i < sequence.fields.size(); ++i) {
        const TRegisterField& field = sequence.fields[i];
        if (StopAsked(hooks)) return {TSequenceResult::Stopped, 0, field.reg};
        const TWriteOutcome outcome =
            WriteAndVerify(link, field.reg, field.value(values), sequence.readBack, between);
        if (outcome.code != 0 && StopAsked(hooks)) return {TSequenceResult::Stopped, 0, field.reg};
        if (outcome.code != 0) {
            ShowFailure(hooks, outcome.text);
            if (outcome.mismatch) return {TSequenceResult::Mismatch, 0, field.reg};
            return {TSequenceResult::TransactionFailed, outcome.code, field.reg};
        }
        Show(hooks, ProgressText(kWriteProgressText, field.percent));
        PauseAfter(sequence, hooks, 2 * (i + 1), total);
    }
    Show(hooks, kWriteDoneText);
    return {};
}
