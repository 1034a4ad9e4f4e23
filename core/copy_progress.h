#pragma once
// The copy progress dialog as the image copy sees it. TForm4 implements it.
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
