#pragma once
// Where stbmate keeps its settings file and writes its session log.
//
// Portable: the program's own folder holds stbmate.ini and may be written to (a build tree, a
// copy on a stick); settings and Logs/ stay beside the program, so a copy carries everything.
// Installed: otherwise (a package put the program in /usr/bin). The settings live in
// $XDG_CONFIG_HOME/stbmate/stbmate.ini, made once from the default the package ships (or from
// the stbmate.ini beside a program whose folder is read-only) and never overwritten after; the
// log goes to $XDG_STATE_HOME/stbmate/Logs. The decision is pure: the
// file system is asked only through FileQueries, so both modes and the switch between them can
// be tried without touching real folders.
#include <QString>

enum class SettingsMode { Portable, Installed };

// What the decision needs from the file system.
class FileQueries {
public:
    virtual ~FileQueries() = default;
    virtual bool fileExists(const QString& path) const = 0;
    // The folder exists and this process may create and replace files in it.
    virtual bool dirWritable(const QString& path) const = 0;
};

// The real file system.
class RealFileQueries : public FileQueries {
public:
    bool fileExists(const QString& path) const override;
    bool dirWritable(const QString& path) const override;
};

struct SettingsInputs {
    QString programDir;     // folder of the running executable
    QString xdgConfigHome;  // $XDG_CONFIG_HOME as found (may be empty or relative)
    QString xdgStateHome;   // $XDG_STATE_HOME as found
    QString home;           // $HOME
    QString shippedDefault; // the default stbmate.ini the installation carries
};

struct SettingsLocation {
    SettingsMode mode = SettingsMode::Portable;
    QString iniPath;        // the settings file the program reads and writes
    QString logBaseDir;     // the folder Logs/ goes into, ending in '/'
    QString shippedDefault; // copied to iniPath on first start (installed mode only)
};

// The shipped default for a program in programDir whose data folder lies at the relative
// path shareFromBin from it ("../share/stbmate" for /usr/bin and /usr/share/stbmate).
QString shippedDefaultPath(const QString& programDir, const QString& shareFromBin);

// Decides the mode. An XDG value that is empty or not absolute is ignored, as the base
// directory rules ask, and the home-relative default is used instead.
SettingsLocation decideSettingsLocation(const SettingsInputs& inputs, const FileQueries& files);

// Installed mode only: copies the shipped default to iniPath when iniPath does not exist yet.
// Never overwrites. Returns false when the copy was needed but failed (the caller then meets a
// missing settings file, which ends the program with its usual box).
bool provideUserSettingsFile(const SettingsLocation& location);

// One line for the session log and the status bar's tooltip: mode and settings file.
QString describeSettingsLocation(const SettingsLocation& location);

// The inputs of this process: its folder, its environment, the default at shareFromBin.
SettingsInputs currentSettingsInputs(const QString& programDir, const QString& shareFromBin);

// The status bar's tooltip: the mode and the settings file in use, in German like the
// window's fixed texts.
QString settingsLocationToolTip(const SettingsLocation& location);
