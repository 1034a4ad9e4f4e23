#pragma once
// The wait dialog as a check or a job sees it: shown with a text, closed afterwards.
#include <QString>

class BusyIndicator {
public:
    virtual ~BusyIndicator() = default;
    virtual void showBusy(const QString& text) = 0; // shows and lets it paint once
    virtual void hideBusy() = 0;
};
