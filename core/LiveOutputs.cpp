// What the program last wrote to a module's live outputs, tied to the
// connection and address it went through.
#include "core/Dekl.h"

namespace {

// The record of another connection or module is not carried over: the
// outputs of this one are then unknown.
TLiveOutputs& Current(TData& data, uint8_t address) {
    TLiveOutputs& last = data.LastOutputs;
    if (last.Kind != data.Kind || last.Handle != data.Handle || last.Address != address) {
        last = TLiveOutputs{};
        last.Kind = data.Kind;
        last.Handle = data.Handle;
        last.Address = address;
    }
    return last;
}

}  // namespace

TLiveOutputs OutputsOf(const TData& data, uint8_t address) {
    const TLiveOutputs& last = data.LastOutputs;
    if (!IsConnected(data) || last.Kind != data.Kind || last.Handle != data.Handle ||
        last.Address != address) {
        return {};
    }
    return last;
}

void NoteDoutWritten(TData& data, uint8_t address, uint8_t dout) {
    TLiveOutputs& last = Current(data, address);
    last.DoutKnown = true;
    last.Dout = dout;
}

void NotePwmWritten(TData& data, uint8_t address, uint16_t pwm) {
    TLiveOutputs& last = Current(data, address);
    last.PwmKnown = true;
    last.Pwm = pwm;
}
