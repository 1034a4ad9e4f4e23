#pragma once
// The copy progress dialog as the image copy sees it. TForm4 implements it; tests use
// FakeCopyProgress.
#include <vector>

class CopyProgress {
public:
    virtual ~CopyProgress() = default;
    // Shows the dialog (not modal), lets it paint, range 0..total, position 0.
    virtual void startCopy(int total) = 0;
    // Position := files copied so far.
    virtual void setCopied(int copied) = 0;
    // Hides the dialog.
    virtual void finishCopy() = 0;
};

class FakeCopyProgress : public CopyProgress {
public:
    void startCopy(int total) override {
        m_visible = true;
        m_total = total;
        m_positions.clear();
    }
    void setCopied(int copied) override { m_positions.push_back(copied); }
    void finishCopy() override { m_visible = false; }

    bool visible() const { return m_visible; }
    int total() const { return m_total; }
    const std::vector<int>& positions() const { return m_positions; }

private:
    bool m_visible = false;
    int m_total = 0;
    std::vector<int> m_positions;
};
