#pragma once
// The file system as the settings location sees it: the files and the writable folders a test
// lists, nothing else.
#include "app/settings_location.h"

#include <QSet>
#include <QString>

class FakeFiles : public FileQueries {
public:
    QSet<QString> files;
    QSet<QString> writableDirs;
    bool fileExists(const QString& path) const override { return files.contains(path); }
    bool dirWritable(const QString& path) const override { return writableDirs.contains(path); }
};
