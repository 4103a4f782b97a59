// The --help texts, one per command; the connection options are common.
#include <string>

#include "CtlArgs.h"

namespace {

constexpr const char* kConnectionHelp =
    "Volby připojení (bez nich platí soubor W_rq905.ini vedle programu, u\n"
    "instalovaného programu ~/.config/rq905/W_rq905.ini, pokud existuje;\n"
    "rq905ctl jej nikdy nezapisuje):\n"
    "  --kind DRUH         rozhraní: com, isa, pci, usb, lan nebo 0-4\n"
    "  --com N             číslo portu COM (1-255)\n"
    "  --isa-base ADR      bázová adresa karty PCI-318 (300h, 0x300 nebo $300)\n"
    "  --ip ADRESA         IP adresa převodníku RQ-1318\n"
    "  --udp-port N        port UDP převodníku (1-65535)\n"
    "  --udp-timeout MS    časový limit UDP v ms (0-60000, 0 = podle rychlosti)\n"
    "  --address N         adresa modulu (0-255); u config apply SEZNAM adres\n"
    "                      a rozsahů, např. 1,3,7-12\n"
    "  --speed BD          komunikační rychlost: 600, 1200, 2400, 4800, 9600,\n"
    "                      19200, 38400, 57600 nebo 115200\n"
    "  --settings SOUBOR   připojení z jiného souboru místo W_rq905.ini (soubor\n"
    "                      musí existovat a být čitelný)\n"
    "  --trace SOUBOR|-    záznam rámců ovladače do souboru (- = stderr) pro\n"
    "                      tento příkaz (proměnná RQ905_TRACE)\n"
    "\n"
    "Společné volby:\n"
    "  --json              výstup pro stroje (JSON, UTF-8)\n"
    "  --csv               výstup CSV (UTF-8, jeden řádek záhlaví, pole podle\n"
    "                      RFC 4180; se --watch na každé čtení řádek začínající\n"
    "                      místním časem ISO 8601 s ms a posunem zóny)\n"
    "  --output SOUBOR     výsledky připojí na konec souboru, každý řádek hned\n"
    "                      zapsaný; záhlaví CSV jen do prázdného souboru (i po\n"
    "                      vyprázdnění rotací, logrotate copytruncate); soubor,\n"
    "                      který nelze otevřít, je chybné použití (2); když zápis\n"
    "                      selže (plný disk), příkaz skončí s kódem 1\n"
    "  --stats             na konci (i po Ctrl-C) statistika spojení: transakce,\n"
    "                      odpovědi, bez odpovědi, poškozené a odmítnuté odpovědi,\n"
    "                      chybové stavy modulu, doba odezvy min/medián/p99/max;\n"
    "                      scan a config apply i po adresách\n"
    "  --help              tato nápověda\n"
    "  --version           název a verze programu\n"
    "\n"
    "Čísla: desítkově, nebo šestnáctkově s předponou $ nebo 0x.\n"
    "Návratový kód: 0 úspěch, 1 chyba modulu nebo spojení, 2 chybné použití,\n"
    "130 (Ctrl-C), 143 (SIGTERM) nebo 129 (SIGHUP) přerušení: transakce, která\n"
    "právě běží, doběhne, další už nezačne; řekne, co modul nyní drží\n"
    "(config write zapsané registry, commission uloženou adresu).\n"
    "config diff: 0 shoda, 1 rozdíl, 3 chyba modulu nebo spojení.\n"
    "Ctrl-C ukončí sledování (--watch) a scan řádně, s dosavadním výsledkem.\n";

constexpr const char* kGeneralHelp =
    "Použití: rq905ctl PŘÍKAZ [volby]\n"
    "Servisní nástroj modulu RQ-905 pro příkazový řádek.\n"
    "\n"
    "Příkazy (rq905ctl PŘÍKAZ --help vypíše podrobnosti):\n"
    "  identify                 identifikace modulu (název a verze)\n"
    "  config read              přečte uloženou konfiguraci modulu\n"
    "  config write VOLBY       zapíše vybrané hodnoty konfigurace s ověřením\n"
    "  config save SOUBOR       uloží konfiguraci modulu do souboru INI\n"
    "  config apply SOUBOR --address SEZNAM\n"
    "                           zapíše konfiguraci ze souboru do modulů\n"
    "  config diff SOUBOR       porovná konfiguraci modulu se souborem\n"
    "  dout HODNOTA             nastaví digitální výstupy DOUT0-DOUT7 (0-255)\n"
    "  pwm HODNOTA              nastaví hodnotu výstupu PWM (0-65535)\n"
    "  din [--watch]            přečte digitální vstupy\n"
    "  status [--watch|--clear] přečte nebo vynuluje status registr\n"
    "  scan [--from A] [--to B] [--speeds SEZNAM|all]\n"
    "                           vyhledá moduly v rozsahu adres (a rychlostí)\n"
    "  commission --first A [--count N]\n"
    "                           přidělí novým modulům adresy, jednomu po druhém\n"
    "  ports                    sériová zařízení a která by ovladače použily\n"
    "  drivers check            ovladače výrobce pro Windows přes hostitele ovladačů\n"
    "  send PŘÍKAZ INDEX [D0 D1 D2 D3 D4] [--repeat N]\n"
    "                           pošle modulu jednu transakci a vypíše odpověď\n"
    "\n"
    "Výstup: text, --json, nebo --csv (din, status, scan, config read,\n"
    "config diff, send); --output SOUBOR připojí výsledky k souboru.\n"
    "--stats vypíše na konci statistiku spojení (din a status s --watch, scan,\n"
    "config apply, send s --repeat).\n"
    "\n";

constexpr const char* kIdentifyHelp =
    "Použití: rq905ctl identify [volby]\n"
    "Naváže spojení a vypíše název a verzi modulu.\n"
    "\n";

constexpr const char* kConfigHelp =
    "Použití: rq905ctl config read [volby]\n"
    "         rq905ctl config write HODNOTY [volby]\n"
    "         rq905ctl config save SOUBOR [volby]\n"
    "         rq905ctl config apply SOUBOR --address SEZNAM [--include-address]\n"
    "         rq905ctl config apply SOUBOR --targets SEZNAM|- [--keep-going]\n"
    "                              [--keep-going] [volby]\n"
    "         rq905ctl config diff SOUBOR [--include-address] [volby]\n"
    "         rq905ctl config diff SOUBOR --targets SEZNAM|- [volby]\n"
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
    "\n"
    "config save přečte všechny registry a zapíše je do souboru INI (UTF-8) s\n"
    "oddílem [RQ-905] a klíči bus_address, line_speed, din_negation,\n"
    "dout_negation, dout_initial, pwm_initial, pwm_period_ms, pwm_negation;\n"
    "první řádek je komentář s identifikací modulu a časem. Soubor se nahradí\n"
    "celý najednou; jiný než obyčejný soubor (i symbolický odkaz) se odmítne.\n"
    "\n"
    "config apply zapíše hodnoty souboru postupně do modulů na adresách SEZNAMu\n"
    "(např. 1,3,7-12) stejnými sekvencemi s ověřením jako config write a pro\n"
    "každý modul vypíše jeden řádek výsledku (s --json jeden objekt). Adresu a\n"
    "rychlost ze souboru zapíše jen s --include-address, a to jen do jednoho\n"
    "modulu. Po prvním chybném modulu skončí, s --keep-going pokračuje dalším.\n"
    "Ctrl-C dokončí rozepsaný modul a další nezačne. Soubor s neznámým,\n"
    "chybějícím nebo zdvojeným klíčem či neplatnou hodnotou se odmítne dřív,\n"
    "než se cokoli zapíše (návratový kód 2).\n"
    "\n"
    "--targets SEZNAM|- (config apply i diff) místo --address projde moduly\n"
    "mnoha převodníků: na řádku SEZNAMu převodník (lan:ADRESA[:PORT], com:N,\n"
    "isa:BÁZE, pci nebo usb) a za mezerou adresy, např.\n"
    "  lan:192.168.10.21:3180  1-12\n"
    "# nebo ; začíná komentář do konce řádku; - čte seznam ze vstupu. Řádek\n"
    "a objekt každého modulu začíná převodníkem.\n"
    "\n"
    "config diff vypíše hodnoty, v nichž se modul liší od souboru (klíč, modul,\n"
    "soubor); adresu a rychlost porovná jen s --include-address. Návratový kód\n"
    "0 shoda, 1 rozdíl, 3 chyba modulu nebo spojení.\n"
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
    "čteních s --count); řádek začíná místním časem HH:MM:SS.mmm, objekt JSON\n"
    "má člen \"time\" (ISO 8601 s milisekundami a posunem zóny).\n"
    "\n";

constexpr const char* kStatusHelp =
    "Použití: rq905ctl status [--watch [--count N] | --clear] [volby]\n"
    "Přečte 32bitový status registr (bity FN, PRF, PWR, RST, ERR24). S --watch\n"
    "ho čte každých 500 ms a vypíše první stav a každou změnu, dokud ho\n"
    "neukončí Ctrl-C (nebo po N čteních s --count), s časem jako din --watch.\n"
    "--clear registr vynuluje.\n"
    "\n";

constexpr const char* kScanHelp =
    "Použití: rq905ctl scan [--from A] [--to B] [--speeds SEZNAM|all] [--first]\n"
    "                       [--scan-wait-ms MS] [volby]\n"
    "Zkusí identifikaci na každé adrese od A do B (výchozí 0 až 255) s krátkým\n"
    "čekáním (jen na první bajt odpovědi) a vypíše moduly, které odpověděly.\n"
    "Převodník RQ-1318 čeká podle rychlosti, není-li zadáno --udp-timeout.\n"
    "Návratový kód 1, když žádný modul neodpověděl.\n"
    "Adresu, na které odpovídá víc modulů najednou (odpovědi přijdou dvakrát,\n"
    "nebo opakovaně porušené), ohlásí jako \"kolize adres: více modulů na\n"
    "adrese N?\" (s --json v poli \"collisions\"), s návratovým kódem 1.\n"
    "\n"
    "  --speeds SEZNAM|all  u sériových rozhraní projde rozsah postupně při\n"
    "                       každé rychlosti seznamu (např. 9600,1200; all =\n"
    "                       všech devět), od nejrychlejší, a u každého modulu\n"
    "                       vypíše adresu i rychlost; u lan se odmítne\n"
    "  --first              skončí u prvního nalezeného modulu\n"
    "  --scan-wait-ms MS    čekání na začátek odpovědi aspoň MS ms (1-100), pro\n"
    "                       převodníky USB, které bajty zdržují (latency timer,\n"
    "                       obvykle 16 ms: --scan-wait-ms 20)\n"
    "\n";

constexpr const char* kSendHelp =
    "Použití: rq905ctl send PŘÍKAZ INDEX [D0 D1 D2 D3 D4] [--repeat N [--stats]]\n"
    "                       [volby]\n"
    "Pošle modulu na --address jednu transakci (každé číslo 0-255, chybějící\n"
    "D0-D4 jsou 0), bez identifikace, a vypíše stav (kód a text) a D0-D4\n"
    "odpovědi šestnáctkově i desítkově. Pro každý příkaz, i nedokumentovaný.\n"
    "Návratový kód 1, když stav není 0.\n"
    "\n"
    "  --repeat N           pošle transakci N krát za sebou, každou na řádek\n"
    "                       s místním časem; kód 1, když některá selhala;\n"
    "                       Ctrl-C skončí s kódem 130\n"
    "\n";

constexpr const char* kCommissionHelp =
    "Použití: rq905ctl commission --first A [--count N] [--speed BD]\n"
    "                             [--from-address F] [--from-speed BD] [--yes]\n"
    "                             [volby]\n"
    "Přidělí novým modulům adresy A, A+1, ... (N modulů, výchozí 1) po jednom:\n"
    "vyzve k připojení dalšího modulu, najde ho na adrese a rychlosti, se\n"
    "kterými nové moduly přicházejí (--from-address, výchozí 1, a --from-speed,\n"
    "výchozí 9600), zapíše mu adresu a rychlost linky --speed (výchozí rychlost\n"
    "připojení) s ověřením zpětným čtením, vyzve k vypnutí a zapnutí napájení\n"
    "a ověří, že modul odpovídá na nové adrese a rychlosti. Dokud na adrese\n"
    "odpovídá víc modulů najednou (kolize adres), nepokračuje; obsazenou\n"
    "cílovou adresu nepřidělí (kód 1).\n"
    "Na terminálu čeká na Enter po každé výzvě; --yes (pro skripty) se\n"
    "neptá a zkouší znovu každých 300 ms, dokud modul nenajde; s --json\n"
    "každé čekání ohlásí objektem {\"waiting\":{...}}. Ctrl-C skončí.\n"
    "\n";

constexpr const char* kPortsHelp =
    "Použití: rq905ctl ports [--com N] [--isa-base ADR] [--json] [--settings SOUBOR]\n"
    "Vypíše sériová zařízení počítače: odkazy /dev/serial/by-id se zařízením,\n"
    "na které ukazují, a výrobcem a výrobkem USB, porty ttyS se skutečným\n"
    "obvodem UART; u každého, zda ho uživatel smí otevřít (a když ne, zda\n"
    "chybí členství ve skupině dialout). Pro každý sériový druh rozhraní pak\n"
    "zařízení, které by ovladač nyní použil, a proč: proměnná (RQ905_COM1,\n"
    "RQ905_PCI318, RQ905_PCI1318, RQ905_USB1318), soubor\n"
    "~/.config/rq905/devices.ini (oddíl [Zařízení], klíče COM1..., PCI318,\n"
    "PCI1318, USB1318), nebo výchozí. Port COM a bázová adresa karty jsou ze\n"
    "souboru nastavení nebo z voleb --com a --isa-base.\n"
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
        case TCommand::ConfigSave:
        case TCommand::ConfigApply:
        case TCommand::ConfigDiff:
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
        case TCommand::Ports:
            head = kPortsHelp;
            break;
        case TCommand::Send:
            head = kSendHelp;
            break;
        case TCommand::Commission:
            head = kCommissionHelp;
            break;
    }
    return std::string(head) + kConnectionHelp;
}
