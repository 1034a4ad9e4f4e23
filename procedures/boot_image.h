#pragma once
// The legacy boot image that the receiver's boot loader boots with bootm: a 64-byte big-endian
// header (magic 0x27051956, CRC-32 of the header with that field zeroed, time, data size, load
// and entry address, CRC-32 of the data, OS, CPU architecture, image type, compression, a
// 32-byte name), then the data. Bytes after the data are not part of the image.
//
// The emergency image job reads the chosen file once through this before it serves a byte, so
// a truncated download, a damaged file or another receiver's image is named at the PC instead
// of by the loader minutes later (or never). Pure: the checker sees only the bytes it is fed.
#include <QString>

#include <cstddef>
#include <cstdint>

namespace bootimage {

constexpr std::size_t kHeaderSize = 64;
constexpr std::uint32_t kMagic = 0x27051956;
// The format's numbers for the receiver's CPU and for the image types bootm starts on it.
constexpr std::uint8_t kArchSuperH = 9;
constexpr std::uint8_t kTypeKernel = 2;
constexpr std::uint8_t kTypeMulti = 4;

struct Header {
    std::uint32_t magic = 0;
    std::uint32_t headerCrc = 0;
    std::uint32_t time = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t loadAddress = 0;
    std::uint32_t entryAddress = 0;
    std::uint32_t dataCrc = 0;
    std::uint8_t os = 0;
    std::uint8_t arch = 0;
    std::uint8_t type = 0;
    std::uint8_t compression = 0;
    QString name; // up to the first NUL of the 32 bytes, Latin-1
};

// In the order the checks run; the first that fails is the one reported.
enum class Status {
    Ok,
    TooShortForHeader, // fewer than 64 bytes
    BadMagic,          // not a boot image at all
    BadHeaderCrc,      // the header is damaged
    Truncated,         // the file is shorter than 64 + the header's data size
    BadDataCrc,        // the data is damaged
    ReadError,         // the file could not be read to its end
};

struct Check {
    Status status = Status::TooShortForHeader;
    // As read, once 64 bytes came (also when the magic or the header CRC is wrong).
    Header header;
    // 64 + data size once the header is sound, else 0: what is to be served and what the
    // loader must report having received.
    qint64 servedSize = 0;
    QString readError; // the system's reason, for ReadError
};

// Fed a file's bytes from its start, in slices of any size, then asked once for the outcome.
// Reads no byte past the image's end and stops hashing once the outcome is decided.
class Checker {
public:
    // false once more bytes cannot change the outcome, so a reader may stop.
    bool feed(const char* bytes, std::size_t size);
    Check finish() const;

private:
    bool takeHeader(const char*& bytes, std::size_t& size);

    unsigned char m_head[kHeaderSize] = {};
    std::size_t m_headFill = 0;
    Check m_result;
    bool m_decided = false; // bad magic or header CRC: the data no longer matters
    std::uint64_t m_dataSeen = 0;
    std::uint32_t m_dataCrc = 0;
};

// Streams the file at path through a Checker in slices; never holds the whole file.
Check checkFile(const QString& path);

// Display names of the header's numbers; an unknown number is shown as "(n)".
QString archName(std::uint8_t arch);
QString typeName(std::uint8_t type);
QString compressionName(std::uint8_t compression);
// SuperH, and a kernel or multi-file image: what bootm on the receiver can start.
bool fitsReceiver(const Header& header);

} // namespace bootimage
