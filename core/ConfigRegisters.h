// The module's configuration registers: the read and verified-write
// primitives, and the read and write sequences of the three settings
// dialogs. Free of any user interface so that the command-line tool runs
// exactly the same exchanges, with its own progress output.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/Dekl.h"

inline constexpr uint8_t kCmdReadRegister = 102;
inline constexpr uint8_t kCmdWriteRegister = 103;

inline constexpr uint8_t kRegDoutInitial = 32;
inline constexpr uint8_t kRegDinNegation = 33;
inline constexpr uint8_t kRegDoutNegation = 34;
inline constexpr uint8_t kRegPwmInitialLow = 35;
inline constexpr uint8_t kRegPwmInitialHigh = 36;
inline constexpr uint8_t kRegPwmMode = 37;
inline constexpr uint8_t kRegSpeedIndex = 62;
inline constexpr uint8_t kRegBusAddress = 63;

// Where transactions go; taken from TData once at the start of a sequence.
struct TModuleLink {
    uint8_t kind = 0;
    uint32_t handle = 0;
    uint8_t address = 0;
};
TModuleLink LinkOf(const TData& data);

// Both return the transaction's Status. The register number goes into D1
// and D2; echo is sent in D3 and D4 of a read (0 except for the PWM
// dialog's read-backs).
uint8_t ReadRegister(const TModuleLink& link, uint8_t reg, uint8_t& value, uint8_t echo = 0);
uint8_t WriteRegister(const TModuleLink& link, uint8_t reg, uint8_t value);

// Outcome of writing a register and reading it back.
inline constexpr uint8_t kWriteMismatch = 9;
inline constexpr const char* kMismatchText = "Chyba zápisu dat.";
struct TWriteOutcome {
    uint8_t code = 0;       // 0, the failing Status, or kWriteMismatch
    std::string text;       // empty on success
    bool mismatch = false;  // a library may use 9 as a Status of its own
};

// How the read-back after a write is sent.
enum class TReadBack : uint8_t { Zeros, Echo };

// Writes value into reg, calls between() (when given) and reads the
// register back; done only when the read-back equals value.
TWriteOutcome WriteAndVerify(const TModuleLink& link, uint8_t reg, uint8_t value, TReadBack readBack,
                             const std::function<void()>& between = {});

// Values read so far in a read sequence, by register number.
using TRegisterValues = std::array<uint8_t, 256>;

// One register of a dialog: what is written into it, how a value read
// from it reaches the record, and the progress shown once it is done.
struct TRegisterField {
    uint8_t reg;
    uint8_t percent;
    uint8_t (*value)(const TModuleConfig& config);
    // nullptr: the value only takes effect with a later register.
    void (*store)(TModuleConfig& config, const TRegisterValues& read);
};

// Where a sequence lets pending events run and pauses.
enum class TPauses : uint8_t {
    None,       // back to back
    Between,    // between two transactions, not after the last one
    AfterEach,  // after every successful transaction, the last one too
};

struct TRegisterSequence {
    std::span<const TRegisterField> fields;
    TPauses pauses;
    TReadBack readBack;
};

// The three dialogs' registers, in their order.
extern const TRegisterSequence kAddressSpeedRegisters;  // 63, 62
extern const TRegisterSequence kDigitalIoRegisters;     // 32, 33, 34
extern const TRegisterSequence kPwmRegisters;           // 35, 36, 37

enum class TSequenceResult : uint8_t { Done, NotConnected, TransactionFailed, Mismatch, Stopped };
struct TSequenceOutcome {
    TSequenceResult result = TSequenceResult::Done;
    uint8_t status = 0;  // of the failing transaction
    uint8_t reg = 0;     // the failing register, or the first one not begun when stopped
};

struct TSequenceHooks {
    std::function<void(const std::string& text)> show;  // each status text, in order
    std::function<void()> pause;                        // where the sequence's rule asks for one
    // Asked before each register; false ends the sequence there. A write is
    // never parted from its read-back, so a register is done or not begun.
    // Asked again after a failed transaction: a stop asked for meanwhile
    // ends the sequence as stopped at that register, whose write is then
    // not counted as done.
    std::function<bool()> proceed = {};
};

inline constexpr const char* kReadProgressText = " Probíhá čtení konfigurace z modulu (";
inline constexpr const char* kWriteProgressText = " Probíhá zápis konfigurace do modulu (";
inline constexpr const char* kReadDoneText = " Konfigurace přečtena.";
inline constexpr const char* kWriteDoneText = " Konfigurace zapsána.";
std::string ProgressText(const char* prefix, unsigned percent);

// Module -> config. Nothing happens without an open connection; on a
// failure the fields stored so far stay in config.
TSequenceOutcome ReadConfig(const TData& data, const TRegisterSequence& sequence, TModuleConfig& config,
                            const TSequenceHooks& hooks);
// config -> module, each register verified. A failure ends the sequence;
// registers before it stay written.
TSequenceOutcome WriteConfig(const TData& data, const TRegisterSequence& sequence,
                             const TModuleConfig& config, const TSequenceHooks& hooks);
