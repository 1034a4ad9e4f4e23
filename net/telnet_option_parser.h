#pragma once
// The telnet option negotiation as this client speaks it: a fixed answer for every request, the
// terminal type on demand, and everything else passed through as text. Push parser without a
// socket: the receive thread feeds each received block and writes the replies it is handed.
#include <QByteArray>

#include <atomic>
#include <functional>

class TelnetOptionParser {
public:
    enum class State {
        Data,
        Command,
        Will,
        Wont,
        Do,
        Dont,
        SubOption,
        SubData,
        SubDataCommand,
        SubOptionCommand,
    };
    // Gets each reply as one piece (IAC + verb + option, or the whole terminal-type answer), to
    // be written to the connection in one write, in the order given.
    using ReplySink = std::function<void(const QByteArray& reply)>;

    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, SE = 240, EOR = 239;
    static constexpr unsigned char OptEcho = 1, OptTerminalType = 24, OptEndOfRecord = 25;
    static constexpr unsigned char SubSend = 1, SubIs = 0;

    // Runs one received block through the parser and returns its text (a doubled IAC becomes
    // one byte 255). The state carries over to the next block; the subnegotiation's option,
    // data count and last data byte do not: they start afresh with every block.
    QByteArray feedBlock(const QByteArray& block, const ReplySink& reply);

    // Back to the state of a new session: Data, server not known to speak telnet.
    void reset();

    State state() const { return m_state; }
    // True once the first IAC arrived. Read from the UI thread, set by the receive thread.
    bool serverSpeaksTelnet() const { return m_serverSpeaksTelnet.load(); }
    // The type named in the terminal-type answer; an empty one is answered as "dumb".
    QByteArray terminal() const { return m_terminal; }
    void setTerminal(const QByteArray& terminal) { m_terminal = terminal; }

private:
    void finishSubnegotiation(const ReplySink& reply);

    State m_state = State::Data;
    std::atomic<bool> m_serverSpeaksTelnet{false};
    QByteArray m_terminal = "dumb";
    int m_subOption = 1;
    int m_subCount = 1;
    int m_lastSubByte = -1;
};
