// The program data record shared by every dialog, its defaults, the
// connection settings file, and the main window's creation and close steps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "link/Txxx318.h"

// The module's stored configuration as the settings dialogs edit it.
struct TModuleConfig {
    uint8_t BusAddress = 1;
    uint8_t SpeedIndex = 4;
    uint16_t PwmInitial = 0;
    uint8_t PwmMode = 0;
    std::array<uint8_t, 4> DinNegation{255, 255, 255, 255};
    std::array<uint8_t, 4> DoutNegation{255, 255, 255, 255};
    std::array<uint8_t, 4> DoutInitial{0, 0, 0, 0};

    bool operator==(const TModuleConfig&) const = default;
};

// What the program last wrote to the live outputs of a module. The module
// cannot be asked for them, so this is all the program knows of them; it
// belongs to the connection and module it was written through, and means
// nothing for another (OutputsOf).
struct TLiveOutputs {
    uint8_t Kind = 0;
    uint32_t Handle = 0;
    uint8_t Address = 0;
    bool DoutKnown = false;
    uint8_t Dout = 0;
    bool PwmKnown = false;
    uint16_t Pwm = 0;
};

// Texts are Windows-1250 bytes.
struct TData {
    uint8_t Kind = 0;
    uint8_t ModuleAddress = 0;
    uint32_t Speed = 0;
    uint16_t IsaBase = 0;
    uint8_t ComPort = 0;
    std::string IpAddress;
    uint32_t UdpPort = 0;
    uint32_t UdpTimeout = 0;
    std::string StatusText;
    uint32_t Handle = 0;
    uint8_t Connected = 0;
    std::string ModuleIdent;
    TInitParams InitParams{};
    TModuleConfig ModuleConfig{};
    TLiveOutputs LastOutputs{};
};

// A connection counts as open only with both set.
inline bool IsConnected(const TData& data) { return data.Connected != 0 && data.Handle != 0; }

// The outputs last written to the module at address through the record's
// present connection; nothing known when they were written elsewhere.
TLiveOutputs OutputsOf(const TData& data, uint8_t address);
// Notes a successful write of the digital outputs or of the PWM value.
void NoteDoutWritten(TData& data, uint8_t address, uint8_t dout);
void NotePwmWritten(TData& data, uint8_t address, uint16_t pwm);

TModuleConfig DefaultModuleConfig();
void SetDefaults(TData* data);

inline constexpr const char* kSettingsFileName = "W_rq905.ini";
// The program's own W_rq905.ini: beside the executable where that directory
// is the user's, else the per-user file (SettingsFiles).
std::string SettingsFilePath();

// true when the file named an interface.
bool LoadSettings(TData* data, const std::string& path);
// true when the file was written; on a write failure false with
// "Unable to write to <path>" in *error. The program's own per-user file,
// when it does not exist yet, starts from the file the settings were read
// from (CreateProgramData). The save is one update of the file:
// a failure leaves the file as it was, except that a value that cannot be
// written stops the save at its key with the keys before it written.
bool SaveSettings(TData* data, const std::string& path, std::string* error = nullptr);

// The main window's creation step: a record with defaults and the settings
// loaded, or nullptr when it cannot be allocated. For the program's own
// per-user file that does not exist yet the settings come from the file
// beside the executable.
std::unique_ptr<TData> CreateProgramData(const std::string& settingsPath);
// The close step: save the settings, end an open connection, free the
// record. A failed save is reported in *saveError and never stops the close.
// The program's own per-user file is made with its directories.
void CloseProgramData(std::unique_ptr<TData>& data, const std::string& settingsPath,
                      std::string* saveError = nullptr);

inline constexpr const char* kNoDataText = "Nelze vytvořit datové struktury programu";
inline constexpr const char* kNotConnectedText = " Připojení k modulu není inicializováno.";
