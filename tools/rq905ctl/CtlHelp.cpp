// The --help texts, one per command; the connection options are common.
#include <string>

#include "CtlArgs.h"

namespace {

constexpr const char* kConnectionHelp =
    "Volby připojení (bez nich platí soubor W_rq905.ini vedle programu, který\n"
    "rq905ctl nikdy nezapisuje):\n"
    "  --kind DRUH         rozhraní: com, isa, pci, usb, lan nebo 0-4\n"
    "  --com N             číslo portu COM (1-255)\n"
    "  --isa-base ADR      bázová adresa karty PCI-318 (300h, 0x300 nebo $300)\n"
    "  --ip ADRESA         IP adresa převodníku RQ-1318\n"
    "  --udp-port N        port UDP převodníku (1-65535)\n"
    "  --udp-timeout MS    časový limit UDP v ms (0-60000, 0 = podle rychlosti)\n"
    "  --address N         adresa modulu (0-255)\n"
    "  --speed BD          komunikační rychlost: 600, 1200, 2400, 4800, 9600,\n"
    "                      19200, 38400, 57600 nebo 115200\n"
    "  --settings SOUBOR   připojení z jiného souboru místo W_rq905.ini (soubor\n"
    "                      musí existovat a být čitelný)\n"
    "\n"
    "Společné volby:\n"
    "  --json              výstup pro stroje (JSON, UTF-8)\n"
    "  --help              tato nápověda\n"
    "  --version           název a verze programu\n"
    "\n"
    "Čísla: desítkově, nebo šestnáctkově s předponou $ nebo 0x.\n"
    "Návratový kód: 0 úspěch, 1 chyba modulu nebo spojení, 2 chybné použití,\n"
    "130 (Ctrl-C) nebo 143 (SIGTERM) přerušení: transakce, která právě běží,\n"
    "doběhne, další už nezačne; config write vypíše, které registry zapsal.\n"
    "Ctrl-C ukončí sledování (--watch) a scan řádně, s dosavadním výsledkem.\n";

constexpr const char* kGeneralHelp =
    "Použití: rq905ctl PŘÍKAZ [volby]\n"
    "Servisní nástroj modulu RQ-905 pro příkazový řádek.\n"
    "\n"
    "Příkazy (rq905ctl PŘÍKAZ --help vypíše podrobnosti):\n"
    "  identify                 identifikace modulu (název a verze)\n"
    "  config read              přečte uloženou konfiguraci modulu\n"
    "  config write VOLBY       zapíše vybrané hodnoty konfigurace s ověřením\n"
    "  dout HODNOTA             nastaví digitální výstupy DOUT0-DOUT7 (0-255)\n"
    "  pwm HODNOTA              nastaví hodnotu výstupu PWM (0-65535)\n"
    "  din [--watch]            přečte digitální vstupy\n"
    "  status [--watch|--clear] přečte nebo vynuluje status registr\n"
    "  scan [--from A] [--to B] vyhledá moduly v rozsahu adres\n"
    "\n";

constexpr const char* kIdentifyHelp =
    "Použití: rq905ctl identify [volby]\n"
    "Naváže spojení a vypíše název a verzi modulu.\n"
    "\n";

constexpr const char* kConfigHelp =
    "Použití: rq905ctl config read [volby]\n"
    "         rq905ctl config write HODNOTY [volby]\n"
    "config read přečte všechny uložené registry modulu (63, 62, 32-37).\n"
    "config write zapíše zadané hodnoty; každý registr ověří zpětným čtením\n"
    "a při první chybě skončí a vypíše registr. U neúplné skupiny (adresa a\n"
    "rychlost; vstupy a výstupy; PWM) nejdřív přečte její registry, takže\n"
    "nezadané hodnoty zůstanou, jak je modul má.\n"
    "\n"
    "Hodnoty pro config write:\n"
    "  --bus-address N      adresa modulu (0-255), platí od příštího startu\n"
    "  --line-speed BD      komunikační rychlost (600-115200), od příštího startu\n"
    "  --din-negation B     negace vstupů, bit n = DINn (0-255)\n"
    "  --dout-negation B    negace výstupů, bit n = DOUTn (0-255)\n"
    "  --dout-initial B     počáteční stav výstupů, bit n = DOUTn (0-255)\n"
    "  --pwm-period P       perioda PWM: kód 0-6 nebo 1024, 2048, 4096, 8192,\n"
    "                       16384, 32768, 65535 (ms)\n"
    "  --pwm-initial N      počáteční hodnota PWM (0-65535)\n"
    "  --pwm-negation on|off  negace výstupu PWM\n"
    "\n";

constexpr const char* kDoutHelp =
    "Použití: rq905ctl dout HODNOTA [volby]\n"
    "Nastaví všech osm digitálních výstupů najednou; bit n = DOUTn (0-255).\n"
    "\n";

constexpr const char* kPwmHelp =
    "Použití: rq905ctl pwm HODNOTA [volby]\n"
    "Zapíše okamžitou hodnotu výstupu PWM (0-65535); uložené nastavení PWM\n"
    "nemění.\n"
    "\n";

constexpr const char* kDinHelp =
    "Použití: rq905ctl din [--watch [--count N]] [volby]\n"
    "Přečte digitální vstupy DIN0-DIN7. S --watch je čte každých 100 ms a\n"
    "vypíše první stav a každou změnu, dokud ho neukončí Ctrl-C (nebo po N\n"
    "čteních s --count).\n"
    "\n";

constexpr const char* kStatusHelp =
    "Použití: rq905ctl status [--watch [--count N] | --clear] [volby]\n"
    "Přečte 32bitový status registr (bity FN, PRF, PWR, RST, ERR24). S --watch\n"
    "ho čte každých 500 ms a vypíše první stav a každou změnu, dokud ho\n"
    "neukončí Ctrl-C (nebo po N čteních s --count). --clear registr vynuluje.\n"
    "\n";

constexpr const char* kScanHelp =
    "Použití: rq905ctl scan [--from A] [--to B] [volby]\n"
    "Zkusí identifikaci na každé adrese od A do B (výchozí 0 až 255) s krátkým\n"
    "čekáním a vypíše moduly, které odpověděly. Převodník RQ-1318 čeká podle\n"
    "rychlosti, není-li zadáno --udp-timeout. Návratový kód 1, když žádný\n"
    "modul neodpověděl.\n"
    "\n";

}  // namespace

std::string HelpText(TCommand command) {
    const char* head = kGeneralHelp;
    switch (command) {
        case TCommand::None:
            head = kGeneralHelp;
            break;
        case TCommand::Identify:
            head = kIdentifyHelp;
            break;
        case TCommand::ConfigRead:
        case TCommand::ConfigWrite:
            head = kConfigHelp;
            break;
        case TCommand::Dout:
            head = kDoutHelp;
            break;
        case TCommand::Pwm:
            head = kPwmHelp;
            break;
        case TCommand::Din:
            head = kDinHelp;
            break;
        case TCommand::Status:
            head = kStatusHelp;
            break;
        case TCommand::Scan:
            head = kScanHelp;
            break;
    }
    return std::string(head) + kConnectionHelp;
}
