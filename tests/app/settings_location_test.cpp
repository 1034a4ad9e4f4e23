// Where the settings file and the log go: portable beside the program, installed in the XDG
// folders, and the switch between them. Decided against a fake file system; the first-start
// copy against real scratch folders.
#include "app/command_line.h"
#include "app/settings_location.h"
#include "tests/support/fake_files.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct Case {
    const char* name;
    bool iniBesideProgram;
    bool programDirWritable;
    const char* xdgConfig;
    const char* xdgState;
    SettingsMode mode;
    const char* iniPath;
    const char* logBaseDir;
};

TEST(decideSettingsLocation, PortableOnlyWithAWritableFolderHoldingTheIni) {
    const Case cases[] = {
        {"build tree", true, true, "", "", SettingsMode::Portable, "/opt/sm/stbmate.ini",
         "/opt/sm/"},
        {"portable ignores XDG", true, true, "/x/cfg", "/x/st", SettingsMode::Portable,
         "/opt/sm/stbmate.ini", "/opt/sm/"},
        {"read-only folder with ini", true, false, "", "", SettingsMode::Installed,
         "/home/u/.config/stbmate/stbmate.ini", "/home/u/.local/state/stbmate/"},
        {"writable folder without ini", false, true, "", "", SettingsMode::Installed,
         "/home/u/.config/stbmate/stbmate.ini", "/home/u/.local/state/stbmate/"},
        {"packaged", false, false, "/x/cfg/", "/x/st", SettingsMode::Installed,
         "/x/cfg/stbmate/stbmate.ini", "/x/st/stbmate/"},
        {"relative XDG values are ignored", false, false, "cfg", "./st", SettingsMode::Installed,
         "/home/u/.config/stbmate/stbmate.ini", "/home/u/.local/state/stbmate/"},
    };
    for (const Case& c : cases) {
        FakeFiles files;
        if (c.iniBesideProgram)
            files.files.insert("/opt/sm/stbmate.ini");
        if (c.programDirWritable)
            files.writableDirs.insert("/opt/sm");
        SettingsInputs in;
        in.programDir = "/opt/sm";
        in.xdgConfigHome = QString::fromUtf8(c.xdgConfig);
        in.xdgStateHome = QString::fromUtf8(c.xdgState);
        in.home = "/home/u";
        in.shippedDefault = shippedDefaultPath(in.programDir, "../share/stbmate");
        const SettingsLocation out = decideSettingsLocation(in, files);
        EXPECT_EQ(out.mode, c.mode) << c.name;
        EXPECT_EQ(out.iniPath, QString::fromUtf8(c.iniPath)) << c.name;
        EXPECT_EQ(out.logBaseDir, QString::fromUtf8(c.logBaseDir)) << c.name;
        // A read-only folder's own stbmate.ini is its default.
        const QString shipped = c.iniBesideProgram
                                    ? QStringLiteral("/opt/sm/stbmate.ini")
                                    : QStringLiteral("/opt/share/stbmate/stbmate.ini");
        EXPECT_EQ(out.shippedDefault, c.mode == SettingsMode::Installed ? shipped : QString())
            << c.name;
    }
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(provideUserSettingsFile, CopiesTheDefaultOnceAndNeverOverwrites) {
    stbtest::ScratchDir dir;
    QDir().mkpath(dir.file("share/stbmate"));
    const QString shipped = dir.file("share/stbmate/stbmate.ini");
    QFile f(shipped);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Main]\nLanguage=English\n");
    f.close();
    QFile::setPermissions(shipped, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    SettingsLocation where;
    where.mode = SettingsMode::Installed;
    where.iniPath = dir.file("home/.config/stbmate/stbmate.ini");
    where.shippedDefault = shipped;
    const mode_t mask = ::umask(077);
    ASSERT_TRUE(provideUserSettingsFile(where));
    ::umask(mask);
    EXPECT_EQ(readAll(where.iniPath), QByteArray("[Main]\nLanguage=English\n"));
    EXPECT_EQ(QFile::permissions(where.iniPath) & 0x0777, 0x0600)
        << "the user's copy: writable although the shipped file is not, and as the umask says";
    EXPECT_EQ(QDir(dir.file("home/.config/stbmate")).entryList(QDir::Files),
              QStringList{"stbmate.ini"})
        << "no temporary file is left behind";

    // The user's own settings survive every later start, even with a newer default.
    QFile user(where.iniPath);
    ASSERT_TRUE(user.open(QIODevice::WriteOnly | QIODevice::Truncate));
    user.write("[Main]\nLanguage=Deutsch\n");
    user.close();
    ASSERT_TRUE(provideUserSettingsFile(where));
    EXPECT_EQ(readAll(where.iniPath), QByteArray("[Main]\nLanguage=Deutsch\n"));

    // Neither the user's file nor the default: nothing is made, the caller meets a missing file.
    where.iniPath = dir.file("other/stbmate/stbmate.ini");
    where.shippedDefault = dir.file("nowhere/stbmate.ini");
    EXPECT_FALSE(provideUserSettingsFile(where));
    EXPECT_FALSE(QFile::exists(where.iniPath));
}

TEST(findEarlyCommand, AnswersVersionAndHelpAndLeavesTheRestToQt) {
    const struct {
        std::vector<std::string> args;
        EarlyCommand expected;
    } cases[] = {
        {{"stbmate"}, EarlyCommand::None},
        {{"stbmate", "--version"}, EarlyCommand::Version},
        {{"stbmate", "-platform", "offscreen", "--help"}, EarlyCommand::Help},
        {{"stbmate", "-h"}, EarlyCommand::Help},
        {{"stbmate", "-platform", "offscreen"}, EarlyCommand::None},
        {{"stbmate", "--", "--version"}, EarlyCommand::None},
        {{"stbmate", "--versions"}, EarlyCommand::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(findEarlyCommand(c.args), c.expected) << c.args.back();
    EXPECT_EQ(earlyCommandText(EarlyCommand::Version, "1.0.0.56"), "stbmate 1.0.0.56\n");
}

} // namespace
