#pragma once
// The copy progress dialog for tests: remembers what it was told.
#include "core/copy_progress.h"

#include <vector>

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
