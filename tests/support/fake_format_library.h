#pragma once
// A format service for tests: volumes are table entries, claims and formats are recorded, and
// the reports a format sends are scripted. formatVolume can be held open until the test
// releases it, so tests can act while a format runs.
#include "usbstick/format_library.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

class FakeFormatLibrary : public usbstick::FormatLibrary {
public:
    struct Report {
        uint32_t command;
        int32_t percent = 0; // command 0
        uint8_t success = 0; // command 11
        QByteArray text;     // command 14
    };

    bool isUsable = true;
    int usableAsked = 0;
    std::map<QString, usbstick::VolumeInfo> volumes;
    std::map<QString, QString> holders;                    // drive -> who holds it
    std::map<QString, usbstick::DriveIdentity> identities; // the block devices there are
    bool folderFails = false;
    usbstick::VolumeInfo afterFormat; // what a volume holds once formatted
    std::vector<Report> script;       // sent in order by formatVolume
    std::vector<bool> answers;        // what the engine answered to each report
    std::vector<usbstick::FormatRequest> formats;
    QStringList claims;
    QStringList folders;
    bool holdFormat = false; // formatVolume waits for release()

    bool usable() override {
        ++usableAsked;
        return isUsable;
    }
    std::optional<usbstick::DriveIdentity> identify(const QString& drive) override {
        const auto it = identities.find(drive);
        return it == identities.end() ? std::nullopt
                                      : std::optional<usbstick::DriveIdentity>(it->second);
    }
    usbstick::VolumeInfo queryVolume(const QString& drive) override {
        const auto it = volumes.find(drive);
        return it == volumes.end() ? usbstick::VolumeInfo{} : it->second;
    }
    std::optional<QString> claimVolume(const QString& drive) override {
        claims << drive;
        const auto it = holders.find(drive);
        return it == holders.end() ? std::nullopt : std::optional<QString>(it->second);
    }
    void formatVolume(const usbstick::FormatRequest& request,
                      const usbstick::FormatReportFn& report) override {
        {
            std::unique_lock lock(m_mutex);
            formats.push_back(request);
            m_running = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !holdFormat; });
        }
        for (const Report& r : script) {
            const usbstick::TextReport text{1, r.text.constData()};
            const void* data =
                r.command == usbstick::kProgress     ? static_cast<const void*>(&r.percent)
                : r.command == usbstick::kDone       ? static_cast<const void*>(&r.success)
                : r.command == usbstick::kTextOutput ? static_cast<const void*>(&text)
                                                     : nullptr;
            answers.push_back(report(r.command, data));
            if (r.command == usbstick::kDone && r.success)
                volumes[request.drive] = afterFormat;
        }
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    bool createFolder(const QString& drive, const QString& relativePath,
                      const std::optional<usbstick::ConfirmedDrive>& confirmed,
                      QString* why) override {
        if (folderFails) {
            *why = QStringLiteral("cannot make ") + relativePath;
            return false;
        }
        folders << drive + QLatin1Char(':') + relativePath;
        confirmedFolders.push_back(confirmed);
        return true;
    }
    std::vector<std::optional<usbstick::ConfirmedDrive>> confirmedFolders;

    // For tests that act while a format runs.
    void waitUntilRunning() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_running; });
    }
    void release() {
        std::lock_guard lock(m_mutex);
        holdFormat = false;
        m_changed.notify_all();
    }

    // The reports a good format sends.
    static std::vector<Report> successScript() {
        return {{usbstick::kProgress, 0, 0, {}},
                {usbstick::kProgress, 50, 0, {}},
                {usbstick::kTextOutput, 0, 0, "  mkfs.fat 4.2\r\n"},
                {usbstick::kStructureCreated, 0, 0, {}},
                {usbstick::kProgress, 100, 0, {}},
                {usbstick::kDone, 0, 1, {}}};
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_running = false;
};
