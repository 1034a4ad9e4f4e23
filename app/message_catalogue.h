#pragma once
// The active language's message texts Msg1..Msg25. Procedures fetch a text at the moment they
// show it, so a language change takes effect for the next box.
#include <QString>

#include <array>

class MessageCatalogue {
public:
    static constexpr int kCount = 25;
    // n in 1..25; any other n gives an empty text.
    QString Msg(int n) const {
        return (n >= 1 && n <= kCount) ? m_texts[size_t(n - 1)] : QString();
    }
    void setMsg(int n, const QString& text) {
        if (n >= 1 && n <= kCount)
            m_texts[size_t(n - 1)] = text;
    }

private:
    std::array<QString, kCount> m_texts;
};
