#include "Result.h"

#include <array>
#include <utility>

namespace drv {

namespace {

constexpr std::pair<Result, const char*> kTexts[] = {
    {Result::Ok, "bez chyby"},
    {Result::BadHandle, "neplatné číslo spojení"},
    {Result::BadParameter, "neplatný parametr volání"},
    {Result::OpenFailed, "rozhraní nelze otevřít"},
    {Result::DeviceBusy, "rozhraní používá jiný program"},
    {Result::NoDevice, "rozhraní nebylo nalezeno"},
    {Result::BadSpeed, "nepodporovaná rychlost linky"},
    {Result::PortSetupFailed, "chyba nastavení rozhraní"},
    {Result::WriteFailed, "chyba vysílání na linku"},
    {Result::ReadFailed, "chyba příjmu z linky"},
    {Result::NotAvailable, "funkce rozhraní není k dispozici"},
    {Result::Timeout, "modul neodpovídá"},
    {Result::CrcError, "porušená odpověď modulu (chyba CRC)"},
    {Result::ForeignAddress, "odpověď přišla od jiného modulu"},
    {Result::BadReply, "neplatná odpověď modulu"},
    {Result::OutOfMemory, "nedostatek paměti"},
    {Result::TooManyLinks, "příliš mnoho otevřených spojení"},
    {Result::BadIpAddress, "neplatná IP adresa"},
    {Result::BadUdpPort, "neplatný port UDP"},
    {Result::SocketError, "chyba síťového soketu"},
    {Result::Unreachable, "převodník je nedosažitelný"},
    {Result::ModuleUnknownCommand, "modul nezná příkaz"},
    {Result::ModuleUnknownIndex, "modul nezná index nebo registr"},
    {Result::ModuleBadData, "modul odmítl data"},
    {Result::ModuleFailure, "chyba modulu"},
    {Result::InternalError, "vnitřní chyba ovladače"},
    {Result::BadMode, "neplatný režim komunikace"},
    {Result::BadTimeout, "neplatný časový limit"},
    {Result::HostNotFound, "jméno počítače nelze přeložit (DNS)"},
    {Result::HostNotStarted, "ovladač Windows nelze spustit (chybí wine nebo knihovna, nebo není 32bitová)"},
    {Result::HostEnded, "proces ovladače Windows skončil během volání"},
    {Result::Collision, "odpověděl více než jeden modul (kolize adres)"},
    {Result::Cancelled, "čekání na odpověď přerušeno"},
};

constexpr const char* kUnknown = "neznámá chyba ovladače";

}  // namespace

const char* ResultText(std::uint32_t code) {
    for (const auto& [result, text] : kTexts) {
        if (Code(result) == code) {
            return text;
        }
    }
    return kUnknown;
}

}  // namespace drv
