#include "CtlCommands.h"

#include <iostream>
#include <sstream>

#include "CtlArgs.h"
#include "CtlConfigFile.h"
#include "CtlConnection.h"
#include "CtlFile.h"
#include "CtlPorts.h"
#include "CtlRun.h"
#include "CtlTargets.h"
#include "core/AppendFile.h"
#include "core/Cp1250.h"

namespace {

// A list of converters on standard input, read whole before the link
// opens, and bounded as a file is.
bool ReadStream(std::istream& in, std::string& text, std::string& reason) {
    std::string all;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        all.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (all.size() > kSmallFileMaxSize) {
            reason = "příliš velký vstup (nejvýše " + std::to_string(kSmallFileMaxSize >> 10) +
                     " KiB, jako soubor)";
            return false;
        }
    }
    if (in.bad()) {
        reason = "standardní vstup nelze číst";
        return false;
    }
    text = std::move(all);
    return true;
}

}  // namespace

int RunCtl(const std::vector<std::string>& args, const std::string& defaultSettingsPath, TCtlIo& io) {
    auto usage = [&](const std::string& reason) {
        WriteLine(io.err, "rq905ctl: " + reason);
        WriteLine(io.err, "Nápověda: rq905ctl --help");
        return kExitUsage;
    };
    const TParseResult parsed = ParseArgs(args);
    if (!parsed.ok) return usage(parsed.error);
    if (parsed.options.version) {
        WriteLine(io.out, std::string("rq905ctl ") + RQ905_VERSION);
        return kExitOk;
    }
    if (parsed.options.help) {
        io.out << Cp1250ToUtf8(HelpText(parsed.options.command));
        io.out.flush();
        return kExitOk;
    }
    // Only the file beside the program may be absent: one named on purpose
    // that cannot be read would quietly talk to the default port instead.
    std::string reason;
    if (parsed.options.settingsPath && !SettingsFileReadable(*parsed.options.settingsPath, reason)) {
        return usage("soubor nastavení " + Utf8ToCp1250(*parsed.options.settingsPath) + ": " + reason);
    }
    // Commission asks a person at a terminal; a script says --yes.
    if (parsed.options.command == TCommand::Commission && !parsed.options.yes && io.in == nullptr)
        return usage("commission bez terminálu na vstupu potřebuje --yes");
    // A configuration file is checked whole before the module is touched.
    const TCtlOptions& o = parsed.options;
    const std::string file = "soubor " + Utf8ToCp1250(o.file) + ": ";
    TModuleConfig fileConfig;
    if (o.command == TCommand::ConfigApply || o.command == TCommand::ConfigDiff) {
        std::string text;
        if (!ReadSmallFile(o.file, text, reason) || !ParseConfigFile(text, fileConfig, reason))
            return usage(file + reason);
    }
    // So is a list of converters, from a file or standard input.
    std::vector<TTarget> targets;
    if (o.targets) {
        std::string text;
        const bool read =
            *o.targets == "-" ? ReadStream(std::cin, text, reason) : ReadSmallFile(*o.targets, text, reason);
        if (!read || !ParseTargets(text, targets, reason))
            return usage("seznam převodníků " + Utf8ToCp1250(*o.targets) + ": " + reason);
    }
    if (o.command == TCommand::ConfigSave && !WritableTarget(o.file, reason)) return usage(file + reason);
    // A file that cannot take the results is known before the module is asked.
    TOutputFile output;
    if (o.output && !output.Open(*o.output, reason))
        return usage("soubor " + Utf8ToCp1250(*o.output) + ": " + reason);
    TCtlIo quiet = io;
    if (parsed.options.json) quiet.progress = false;
    const std::string settingsPath = o.settingsPath.value_or(defaultSettingsPath);
    if (o.command == TCommand::Ports) {
        TData data;
        PrepareData(data, settingsPath, o.connection);
        return ListPorts(o, data, {}, quiet);
    }
    const TCtlRunSetup setup{o, quiet, fileConfig, o.output ? &output : nullptr, std::move(targets)};
    switch (o.command) {
        case TCommand::ConfigRead:
        case TCommand::ConfigWrite:
        case TCommand::ConfigSave:
        case TCommand::ConfigDiff:
        case TCommand::ConfigApply:
            return RunConfigCommand(setup, settingsPath);
        case TCommand::Send:
            return RunSendCommand(setup, settingsPath);
        case TCommand::Scan:
            return RunScanCommand(setup, settingsPath);
        case TCommand::Commission:
            return RunCommissionCommand(setup, settingsPath);
        default:
            return RunWatchCommand(setup, settingsPath);
    }
}
