#include "core/SettingsPlace.h"

#include "core/Dekl.h"

TSettingsFiles ChooseSettingsFiles(const std::string& exeDir, bool ownsExeDir, const std::string& userDir,
                                   const std::function<bool(const std::string&)>& exists) {
    const std::string beside = exeDir + kSettingsFileName;
    if (ownsExeDir || userDir.empty()) return {beside, beside};
    const std::string own = userDir + kSettingsFileName;
    return {exists(own) ? own : beside, own};
}
