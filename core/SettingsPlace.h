// Where the settings file is read from and written to. The file beside the
// executable serves wherever that directory is the user's own (a build
// tree, a portable copy). An installed program's directory belongs to the
// package manager and is shared by every user, so there each user keeps a
// file of their own and the file beside the executable only holds the
// defaults an administrator ships.
#pragma once

#include <functional>
#include <string>

struct TSettingsFiles {
    std::string read;   // the file LoadSettings takes
    std::string write;  // the file SaveSettings updates
    bool operator==(const TSettingsFiles&) const = default;
};

// exeDir and userDir end with '/'; userDir is "" when the user has no
// configuration directory. ownsExeDir: the user may write the executable's
// directory and it is no installed program's. exists tells whether a file
// is there.
TSettingsFiles ChooseSettingsFiles(const std::string& exeDir, bool ownsExeDir, const std::string& userDir,
                                   const std::function<bool(const std::string&)>& exists);

// Whether the folder of an executable is the user's own: the user may
// create files there and it is no installed program's.
bool IsUsersOwnFolder(const std::string& exeDir);

// The files of the running program.
TSettingsFiles SettingsFiles();

// Creates the missing directories above path, for the user alone; false
// when one cannot be made.
bool MakeParentDirectories(const std::string& path);
