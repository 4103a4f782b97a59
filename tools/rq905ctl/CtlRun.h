// What every command of rq905ctl shares: the connection, where results go
// (standard output or the --output file, a CSV header first), how failures
// and signals are told, and the --stats summary. Each command family is a
// runner of its own, in a file of its own, over this one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CtlArgs.h"
#include "CtlConnection.h"
#include "CtlOutput.h"
#include "CtlStats.h"
#include "CtlTargets.h"
#include "core/AppendFile.h"
#include "core/ConfigRegisters.h"

// What RunCtl has checked before a command begins.
struct TCtlRunSetup {
    const TCtlOptions& options;
    TCtlIo& io;
    // The values of config apply's or diff's file.
    const TModuleConfig& fileConfig;
    // The open file of --output, if given.
    TOutputFile* output;
    // The converters and their modules of --targets.
    std::vector<TTarget> targets;
};

class TCtlRun {
  public:
    explicit TCtlRun(const TCtlRunSetup& setup);
    virtual ~TCtlRun() = default;
    TCtlRun(const TCtlRun&) = delete;
    TCtlRun& operator=(const TCtlRun&) = delete;

    int Run(const std::string& settingsPath);

  protected:
    // The command itself, with the link's data prepared.
    virtual int Command() = 0;
    // Whether a signal is the normal end of the command (a watch, a scan),
    // rather than an interruption to be told.
    virtual bool EndsBySignal() const { return false; }
    // What a command adds to its "přerušeno" line and object: what the
    // module now holds.
    virtual void InterruptedDetail(std::string& /*text*/, TJsonObject& /*json*/) const {}

    // Opens the link and identifies the module of the connection; on a
    // failure or a signal it has reported and gives the exit status.
    std::optional<int> ConnectModule();
    // A failure of the module or the link; texts are Windows-1250. context
    // leads the text for a person; JSON carries it in the extra members.
    int Fail(uint32_t code, const std::string& text, const std::function<void(TJsonObject&)>& more = {},
             const std::string& context = {});
    // A failure without a result code (a file, a value).
    int Fail(const std::string& text);
    // The link could not be set up; a serial device that could not be
    // found or opened is named, with the system's reason.
    int LinkFail(const TLinkOutcome& outcome);
    // False when the --output file could not take it.
    bool Result(const std::string& text, const TJsonObject& json);
    // A result line, to the --output file or else to standard output, the
    // CSV header first where there is none yet. False when the file could
    // not take it, which has been reported.
    bool Emit(const std::string& line);
    // The header of the CSV that follows, with the number of value columns
    // a failed reading of a watch leaves empty. False, told, when the
    // --output file holds a table of other columns: exit kExitUsage.
    [[nodiscard]] bool CsvHeader(const std::vector<std::string>& fields, std::size_t values = 0);
    // The header alone, when no line may follow.
    bool CsvHeaderOnly();
    // A signal stopped the run before a transaction. written: the registers
    // config write had written by then; remaining: the modules config apply
    // did not begin.
    int Interrupted(const std::vector<uint8_t>* written = nullptr,
                    const std::vector<uint8_t>* remaining = nullptr,
                    const std::vector<std::string>* remainingTargets = nullptr);
    TReply Transact(uint8_t command, uint8_t index, uint8_t d1 = 0, uint8_t d2 = 0) {
        return ::Transact(m_data, m_data.ModuleAddress, command, index, d1, d2);
    }
    TSequenceHooks Hooks();

    const TCtlOptions& m_o;
    TCtlIo& m_io;
    const TModuleConfig m_file;
    TOutputFile* const m_output;
    const std::vector<TTarget> m_targets;
    const int m_failureExit;
    TData m_data;
    TIdent m_ident;  // of the module ConnectModule found
    std::size_t m_csvValues = 0;
    bool m_outputFailed = false;

  private:
    // The summary of --stats, once the link is closed.
    void Summary();

    std::string m_csvHeader;
    bool m_headerDone = false;
    bool m_interruptTold = false;
    TLinkStats m_stats;
    std::unique_ptr<TStatsRecorder> m_recorder;
};

// The command families; each runs setup.options.command of its own.
int RunConfigCommand(const TCtlRunSetup& setup, const std::string& settingsPath);
// identify, dout and pwm, din and status (the watches)
int RunWatchCommand(const TCtlRunSetup& setup, const std::string& settingsPath);
int RunSendCommand(const TCtlRunSetup& setup, const std::string& settingsPath);
int RunScanCommand(const TCtlRunSetup& setup, const std::string& settingsPath);
int RunCommissionCommand(const TCtlRunSetup& setup, const std::string& settingsPath);

// Texts more than one family tells.
std::string Hex(uint32_t value, int digits);
std::string RegisterList(const std::vector<uint8_t>& regs, const char* separator = ", ");
std::string RegisterJson(const std::vector<uint8_t>& regs);
// "zapsány registry 32, 33", or that none was.
std::string WrittenText(const std::vector<uint8_t>& written);
// Lines of a converters' list, for one line of text.
std::string JoinedTargets(const std::vector<std::string>& lines);
// "Zápis registru 36 (…): "
std::string RegisterContext(const char* what, uint8_t reg);
