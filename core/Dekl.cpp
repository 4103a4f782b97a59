#include "core/Dekl.h"

#include <new>
#include <utility>
#include <vector>

#include "core/IniFile.h"
#include "core/IniFileIo.h"
#include "core/IntText.h"
#include "core/Notice.h"
#include "core/SettingsPlace.h"

namespace {

constexpr const char* kSecConnection = "Připojení";
constexpr const char* kSecCom = "COMx";
constexpr const char* kSecIsa = "PCI-318";
constexpr const char* kSecLan = "RQ-1318";
constexpr const char* kKeyInterface = "Rozhraní";
constexpr const char* kKeyAddress = "Adresa";
constexpr const char* kKeySpeed = "Rychlost";
constexpr const char* kKeyComPort = "Číslo portu";
constexpr const char* kKeyIsaBase = "Bázová adresa";
constexpr const char* kKeyIp = "IP adresa";
constexpr const char* kKeyUdpPort = "UDP port";
constexpr const char* kKeyUdpTimeout = "UDP timeout";
// Stands for a missing key or a missing file.
constexpr const char* kNoInterface = "jkl";

int32_t ReadInt(const TProfileFile& file, const char* section, const char* key, int32_t current) {
    return StrToIntDef(file.ReadString(section, key, IntToStr(current)), current);
}

// The program's own file may be a per-user one that the first save has not
// made yet; the file beside the executable then gives the defaults.
std::string ReadPathFor(const std::string& settingsPath) {
    const TSettingsFiles own = SettingsFiles();
    return settingsPath == own.write ? own.read : settingsPath;
}

bool IsUserSettingsFile(const std::string& settingsPath) {
    return settingsPath == SettingsFiles().write && settingsPath != ExecutableDir() + kSettingsFileName;
}

}  // namespace

TModuleConfig DefaultModuleConfig() { return TModuleConfig{}; }

void SetDefaults(TData* data) {
    if (data == nullptr) return;
    data->Kind = 0;
    data->ModuleAddress = 0;
    data->Speed = 9600;
    data->IsaBase = 0x300;
    data->ComPort = 1;
    data->IpAddress = "192.168.0.99";
    data->UdpPort = 5000;
    data->UdpTimeout = 100;
    data->StatusText = "Připojení modulu dosud neinicializováno";
    data->Handle = 0;
    data->Connected = 0;
    data->ModuleConfig = DefaultModuleConfig();
    data->InitParams.fill(0);
}

std::string SettingsFilePath() { return SettingsFiles().write; }

bool LoadSettings(TData* data, const std::string& path) {
    if (data == nullptr) return false;
    TProfileFile file(path);
    file.Load();
    const std::string name = file.ReadString(kSecConnection, kKeyInterface, kNoInterface);
    if (name == kNoInterface) return false;

    data->ModuleAddress =
        static_cast<uint8_t>(ReadInt(file, kSecConnection, kKeyAddress, data->ModuleAddress));
    data->Speed =
        static_cast<uint32_t>(ReadInt(file, kSecConnection, kKeySpeed, static_cast<int32_t>(data->Speed)));
    data->IsaBase = static_cast<uint16_t>(ReadInt(file, kSecIsa, kKeyIsaBase, data->IsaBase));
    data->ComPort = static_cast<uint8_t>(ReadInt(file, kSecCom, kKeyComPort, data->ComPort));
    data->IpAddress = file.ReadString(kSecLan, kKeyIp, data->IpAddress);
    data->UdpPort =
        static_cast<uint32_t>(ReadInt(file, kSecLan, kKeyUdpPort, static_cast<int32_t>(data->UdpPort)));
    data->UdpTimeout =
        static_cast<uint32_t>(ReadInt(file, kSecLan, kKeyUdpTimeout, static_cast<int32_t>(data->UdpTimeout)));

    // Letter case counts here, unlike for section and key names.
    for (uint8_t kind = 0; kind < kKindCount; ++kind) {
        if (name == kInterfaceKinds[kind].settingsName) {
            data->Kind = kind;
            break;
        }
    }
    return true;
}

bool SaveSettings(TData* data, const std::string& path, std::string* error) {
    if (data == nullptr) return false;
    const uint8_t kind = data->Kind > kKindLan ? kKindCom : data->Kind;
    std::vector<TProfileEntry> entries{{kSecConnection, kKeyInterface, kInterfaceKinds[kind].settingsName}};
    switch (kind) {
        case kKindCom:
            entries.push_back({kSecCom, kKeyComPort, IntToStr(data->ComPort)});
            break;
        case kKindIsa:
            entries.push_back({kSecIsa, kKeyIsaBase, IntToStr(data->IsaBase)});
            break;
        case kKindLan:
            entries.push_back({kSecLan, kKeyIp, data->IpAddress});
            entries.push_back({kSecLan, kKeyUdpPort, IntToStr(data->UdpPort)});
            entries.push_back({kSecLan, kKeyUdpTimeout, IntToStr(data->UdpTimeout)});
            break;
        default:
            break;
    }
    entries.push_back({kSecConnection, kKeyAddress, IntToStr(data->ModuleAddress)});
    entries.push_back({kSecConnection, kKeySpeed, IntToStr(data->Speed)});

    // One update of the file for the whole save, so that another program
    // saving at the same moment cannot drop a section or mix the record.
    TProfileFile file(path);
    // The first save of the program's per-user file starts from the file
    // the settings were read from: what that holds beyond this record, such
    // as an administrator's values for the other interface kinds, stays.
    const std::string readFrom = ReadPathFor(path);
    std::string start;
    if (readFrom != path && ReadWholeFile(readFrom, TProfileFile::kMaxFileSize, start) == TFileRead::Ok)
        file.SetStartContent(std::move(start));
    if (file.WriteStrings(entries)) return true;
    if (error != nullptr) *error = file.LastError();
    return false;
}

std::unique_ptr<TData> CreateProgramData(const std::string& settingsPath) {
    std::unique_ptr<TData> data(new (std::nothrow) TData);
    if (!data) return nullptr;
    SetDefaults(data.get());
    LoadSettings(data.get(), ReadPathFor(settingsPath));
    // The save comes only as the program ends: a file that will not take
    // it is named now, while the user can still do something about it.
    const std::string absolute = AbsolutePath(settingsPath);
    if (!CanUpdateFile(absolute))
        FileNotice(absolute, ": soubor nastavení nelze zapsat; změny nastavení se při ukončení neuloží");
    return data;
}

void CloseProgramData(std::unique_ptr<TData>& data, const std::string& settingsPath, std::string* saveError) {
    if (!data) return;
    // The per-user directory appears with the first save.
    if (IsUserSettingsFile(settingsPath)) MakeParentDirectories(settingsPath);
    SaveSettings(data.get(), settingsPath, saveError);
    uint32_t handle = data->Handle;
    if (IsConnected(*data)) CloseInterface(data->Kind, handle);
    data.reset();
}
