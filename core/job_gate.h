#pragma once
// JobGate: the one authority on whether a receiver job is running. A job types into the
// receiver's shell, editor or boot loader between its waits, so anything else typed meanwhile
// (a check, another job, a key in the terminal, a port change) would land in the middle of it.
// Every entry that could disturb a job asks the gate; nothing else keeps a flag of its own.
//
// A job holds the gate through a Hold from its first step to its true end. That end may come
// long after the menu command returned: the emergency image job keeps its Hold while the
// receiver fetches the image and gives it back only once it has booted it, given up, or been
// told the program closes. Releasing (or destroying) the Hold opens the gate again.
//
// UI thread only. The gate must outlive every Hold; a Hold destroyed after its gate would be a
// fault of the owner's teardown order, so owners destroy their jobs before the gate.
#include <QObject>

#include <cstdint>
#include <optional>

enum class JobKind {
    SetAddress,         // "IP-Adresse setzen/ändern"
    DeleteStartScript,  // the port label's hidden context command
    InstallFtpServer,   // "FTP-Server installieren"
    LoadEmergencyImage, // "Notfall-Image aufspielen"
    CheckConnections,   // the check button: serial and network light
};

class JobGate : public QObject {
    Q_OBJECT

public:
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { release(); }

        // Opens the gate; a released or empty Hold does nothing.
        void release();
        bool holds() const { return m_gate != nullptr; }

    private:
        friend class JobGate;
        Hold(JobGate* gate, std::uint64_t ticket) : m_gate(gate), m_ticket(ticket) {}
        JobGate* m_gate = nullptr;
        std::uint64_t m_ticket = 0;
    };

    // A Hold for kind when the gate is open; nullopt while another job holds it.
    std::optional<Hold> tryEnter(JobKind kind);

    bool held() const { return m_holder.has_value(); }
    std::optional<JobKind> holder() const { return m_holder; }

signals:
    // After every change: true when a job took the gate, false when it was opened again.
    void heldChanged(bool held);

private:
    void open(std::uint64_t ticket);

    std::optional<JobKind> m_holder;
    std::uint64_t m_ticket = 0; // of the Hold that may open the gate
};
