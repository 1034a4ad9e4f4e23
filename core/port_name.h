#pragma once
// The port setting as the user types or picks it, parsed once: "COM1".."COM50" (any case,
// blanks around ignored) name the built-in ports /dev/ttyS0.., a text starting with "/" is a
// device path opened as it is (USB adapters, pseudo-terminals), anything else names no port.
#include <QString>

class PortName {
public:
    static constexpr int kMaxComNumber = 50;

    PortName() = default;
    static PortName parse(const QString& text);
    static PortName fromComNumber(int number); // none for 0 or > kMaxComNumber
    static PortName fromDevicePath(const QString& path);

    // 1..50 for "COMn", else 0.
    int comNumber() const { return m_comNumber; }
    // The device to open: /dev/ttyS<n-1> for "COMn", the path itself, or empty for none.
    QString devicePath() const;
    bool isNone() const { return m_comNumber == 0 && m_path.isEmpty(); }
    bool isDevicePath() const { return !m_path.isEmpty(); }
    bool operator==(const PortName&) const = default;

private:
    int m_comNumber = 0;
    QString m_path;
};
