#pragma once
// The emergency image job's place in the main window: our TFTP server on port 69, the job
// itself (it outlives its menu click: the transfer ends later, through the console watcher)
// and a status bar field that shows the transfer's progress.
//
// Owned by TForm1 and destroyed before its serial link: the job takes its hooks out of the
// watcher, then the server stops.
#include "procedures/emergency_image_procedure.h"
#include "procedures/image_server.h"

#include <memory>

class QLabel;
class TForm1;

// The copy dialog the program entry hands the window once it exists; nothing before that.
class WindowCopyProgress : public CopyProgress {
public:
    explicit WindowCopyProgress(TForm1& window) : m_window(window) {}
    void startCopy(int total) override;
    void setCopied(int copied) override;
    void finishCopy() override;

private:
    TForm1& m_window;
};

class EmergencyImageWiring {
public:
    explicit EmergencyImageWiring(TForm1& window);
    EmergencyImageWiring(const EmergencyImageWiring&) = delete;
    EmergencyImageWiring& operator=(const EmergencyImageWiring&) = delete;
    ~EmergencyImageWiring();

    EmergencyImageProcedure& procedure() { return *m_procedure; }
    TftpImageServer& server() { return m_server; }

private:
    WindowCopyProgress m_copyProgress;
    TftpImageServer m_server;
    std::unique_ptr<EmergencyImageProcedure> m_procedure;
    QLabel* m_status = nullptr; // owned by the window's status bar
};
