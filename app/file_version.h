#pragma once
// The program file's version, embedded at build time as a small marked record (the Linux
// counterpart of a version resource) and read back from the file on disk.
#include <QString>

#include <cstdint>

// Layout of the record inside the executable: the 8-byte marker below, the two file-version
// words (most significant first, each little-endian), then kVersionRecordSignature
// (little-endian). The marker is spelled here byte by byte, shifted by one, so that code
// which searches for it does not itself contain it and is never mistaken for a record.
inline constexpr unsigned char kVersionMarkerShifted[8] = {'T', 'U', 'C', 'N', 'W', 'F', 'S', 0x02};
inline constexpr std::uint32_t kVersionRecordSignature = 0xFEEF04BDu;
inline constexpr int kVersionRecordSize = 8 + 4 + 4 + 4;

// "-1" when no file exists at path; empty when the file cannot be read or holds no valid
// record; otherwise "a.b.c.d" in decimal.
QString FileVersionText(const QString& path);
