#include "ModbusMap.h"

namespace {

using TAction = TDecision::TAction;

TDecision Exception(uint8_t code) { return {TAction::Exception, code, {}}; }

unsigned Word(const uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

// Holding registers come in blocks; a request must stay inside one.
bool HoldingRange(unsigned first, unsigned count) {
    const unsigned last = first + count - 1;
    return (first == 0 && last == 0) || (first >= 32 && last <= 37) || (first >= 62 && last <= 63);
}

bool Readable(const TModuleView& module, unsigned first, unsigned count) {
    if (first == 0) return module.pwm.has_value();
    for (unsigned r = first; r < first + count; ++r) {
        if (!module.config[static_cast<std::size_t>(ConfigSlot(r))]) return false;
    }
    return true;
}

TDecision ReadBits(const uint8_t* pdu, std::size_t length, const TModuleView& module, uint8_t fc,
                   const TMapTables& tables) {
    if (length != 5) return Exception(kExIllegalValue);
    const unsigned first = Word(pdu + 1);
    const unsigned count = Word(pdu + 3);
    if (count < 1 || count > 2000) return Exception(kExIllegalValue);
    if (first + count > kMapBits) return Exception(kExIllegalAddress);
    if (!module.fresh) return Exception(kExTargetSilent);
    const bool coils = fc == 1;
    if (coils && !module.outputs) return Exception(kExDeviceFailure);
    const uint8_t byte = coils ? *module.outputs : module.inputs;
    uint8_t* table = coils ? tables.bits : tables.inputBits;
    for (int i = 0; i < kMapBits; ++i) table[i] = (byte >> i) & 1;
    return {TAction::Reply, 0, {}};
}

TDecision ReadRegisters(const uint8_t* pdu, std::size_t length, const TModuleView& module, uint8_t fc,
                        const TMapTables& tables) {
    if (length != 5) return Exception(kExIllegalValue);
    const unsigned first = Word(pdu + 1);
    const unsigned count = Word(pdu + 3);
    if (count < 1 || count > 125) return Exception(kExIllegalValue);
    if (fc == 4) {
        if (first + count > kMapInputRegisters) return Exception(kExIllegalAddress);
        if (!module.fresh) return Exception(kExTargetSilent);
        tables.inputRegs[0] = static_cast<uint16_t>(module.status & 0xFFFF);
        tables.inputRegs[1] = static_cast<uint16_t>(module.status >> 16);
        return {TAction::Reply, 0, {}};
    }
    if (!HoldingRange(first, count)) return Exception(kExIllegalAddress);
    if (!module.fresh) return Exception(kExTargetSilent);
    if (!Readable(module, first, count)) return Exception(kExDeviceFailure);
    if (first == 0) {
        tables.registers[0] = *module.pwm;
    } else {
        for (unsigned r = first; r < first + count; ++r)
            tables.registers[r] = *module.config[static_cast<std::size_t>(ConfigSlot(r))];
    }
    return {TAction::Reply, 0, {}};
}

TDecision WriteCoils(const uint8_t* pdu, std::size_t length, const TModuleView& module, uint8_t fc) {
    unsigned first = 0;
    unsigned count = 1;
    uint8_t values = 0;
    if (fc == 5) {
        if (length != 5) return Exception(kExIllegalValue);
        first = Word(pdu + 1);
        const unsigned value = Word(pdu + 3);
        if (value != 0xFF00 && value != 0x0000) return Exception(kExIllegalValue);
        if (first >= kMapBits) return Exception(kExIllegalAddress);
        values = value != 0 ? 1 : 0;
    } else {
        if (length < 6) return Exception(kExIllegalValue);
        first = Word(pdu + 1);
        count = Word(pdu + 3);
        const unsigned bytes = pdu[5];
        if (count < 1 || count > 1968 || bytes != (count + 7) / 8 || length != 6 + bytes)
            return Exception(kExIllegalValue);
        if (first + count > kMapBits) return Exception(kExIllegalAddress);
        values = pdu[6];  // at most 8 coils: one byte
    }
    if (!module.fresh) return Exception(kExTargetSilent);
    TDecision d{TAction::Write, 0, {}};
    d.write.kind = TWriteRequest::TKind::Outputs;
    const uint8_t mask = static_cast<uint8_t>(((1u << count) - 1) << first);
    d.write.mask = mask;
    d.write.values = static_cast<uint8_t>((values << first) & mask);
    return d;
}

TDecision WriteRegisters(const uint8_t* pdu, std::size_t length, const TModuleView& module,
                         const TPermissions& allowed, uint8_t fc) {
    unsigned first = 0;
    unsigned count = 1;
    const uint8_t* data = nullptr;
    if (fc == 6) {
        if (length != 5) return Exception(kExIllegalValue);
        first = Word(pdu + 1);
        data = pdu + 3;
    } else {
        if (length < 6) return Exception(kExIllegalValue);
        first = Word(pdu + 1);
        count = Word(pdu + 3);
        if (count < 1 || count > 123 || pdu[5] != 2 * count || length != 6 + 2 * count)
            return Exception(kExIllegalValue);
        data = pdu + 6;
    }
    if (!HoldingRange(first, count)) return Exception(kExIllegalAddress);
    TDecision d{TAction::Write, 0, {}};
    if (first == 0) {
        d.write.kind = TWriteRequest::TKind::Pwm;
        d.write.pwm = static_cast<uint16_t>(Word(data));
    } else {
        if (!allowed.config) return Exception(kExIllegalFunction);
        d.write.kind = TWriteRequest::TKind::Config;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned value = Word(data + 2 * i);
            if (value > 0xFF) return Exception(kExIllegalValue);
            d.write.registers.emplace_back(static_cast<uint8_t>(first + i), static_cast<uint8_t>(value));
        }
    }
    if (!module.fresh) return Exception(kExTargetSilent);
    return d;
}

}  // namespace

int ConfigSlot(unsigned reg) {
    for (std::size_t i = 0; i < kConfigRegisters.size(); ++i) {
        if (kConfigRegisters[i] == reg) return static_cast<int>(i);
    }
    return -1;
}

TDecision Decide(const uint8_t* pdu, std::size_t length, const TModuleView& module,
                 const TPermissions& allowed, const TMapTables& tables) {
    if (length < 1) return Exception(kExIllegalFunction);
    const uint8_t fc = pdu[0];
    switch (fc) {
        case 1:
        case 2:
            return ReadBits(pdu, length, module, fc, tables);
        case 3:
        case 4:
            return ReadRegisters(pdu, length, module, fc, tables);
        case 5:
        case 15:
            if (!allowed.write) return Exception(kExIllegalFunction);
            return WriteCoils(pdu, length, module, fc);
        case 6:
        case 16:
            if (!allowed.write) return Exception(kExIllegalFunction);
            return WriteRegisters(pdu, length, module, allowed, fc);
        default:
            return Exception(kExIllegalFunction);
    }
}
