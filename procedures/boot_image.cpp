#include "procedures/boot_image.h"

#include <QFile>

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace bootimage {

namespace {

// Small enough to stay in the cache between the read and the CRC, large enough that the
// system calls do not count.
constexpr qint64 kSliceSize = 128 * 1024;
// The kernel's copy into a buffer that is not cache-line aligned took twice as long here
// (malloc aligns a large block to 16 bytes only), and that copy is most of the check's time.
struct alignas(4096) Slice {
    char bytes[kSliceSize];
};
constexpr std::size_t kHeaderCrcOffset = 4;
constexpr std::size_t kNameOffset = 32;
constexpr std::size_t kNameSize = 32;

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

Header parseHeader(const unsigned char* head) {
    Header h;
    h.magic = bigEndian32(head);
    h.headerCrc = bigEndian32(head + 4);
    h.time = bigEndian32(head + 8);
    h.dataSize = bigEndian32(head + 12);
    h.loadAddress = bigEndian32(head + 16);
    h.entryAddress = bigEndian32(head + 20);
    h.dataCrc = bigEndian32(head + 24);
    h.os = head[28];
    h.arch = head[29];
    h.type = head[30];
    h.compression = head[31];
    const char* name = reinterpret_cast<const char*>(head + kNameOffset);
    h.name = QString::fromLatin1(name, qsizetype(strnlen(name, kNameSize)));
    return h;
}

std::uint32_t headerCrcOf(const unsigned char* head) {
    std::array<unsigned char, kHeaderSize> copy;
    std::memcpy(copy.data(), head, kHeaderSize);
    std::memset(copy.data() + kHeaderCrcOffset, 0, 4);
    return libdeflate_crc32(0, copy.data(), copy.size());
}

template <std::size_t N> QString nameFrom(const std::array<const char*, N>& names, std::uint8_t n) {
    if (n < N && names[n] != nullptr)
        return QString::fromLatin1(names[n]);
    return QStringLiteral("(%1)").arg(n);
}

} // namespace

bool Checker::takeHeader(const char*& bytes, std::size_t& size) {
    const std::size_t take = std::min(size, kHeaderSize - m_headFill);
    std::memcpy(m_head + m_headFill, bytes, take);
    m_headFill += take;
    bytes += take;
    size -= take;
    if (m_headFill < kHeaderSize)
        return false;
    m_result.header = parseHeader(m_head);
    if (m_result.header.magic != kMagic)
        m_result.status = Status::BadMagic;
    else if (headerCrcOf(m_head) != m_result.header.headerCrc)
        m_result.status = Status::BadHeaderCrc;
    else
        m_result.servedSize = qint64(kHeaderSize) + m_result.header.dataSize;
    m_decided = m_result.servedSize == 0;
    return true;
}

bool Checker::feed(const char* bytes, std::size_t size) {
    if (m_decided)
        return false;
    if (m_headFill < kHeaderSize && !takeHeader(bytes, size))
        return true;
    if (m_decided)
        return false;
    const std::uint64_t want = m_result.header.dataSize - m_dataSeen;
    const std::size_t take = std::size_t(std::min<std::uint64_t>(want, size));
    m_dataCrc = std::uint32_t(libdeflate_crc32(m_dataCrc, bytes, take));
    m_dataSeen += take;
    return m_dataSeen < m_result.header.dataSize;
}

Check Checker::finish() const {
    Check check = m_result;
    if (m_headFill < kHeaderSize)
        check.status = Status::TooShortForHeader;
    else if (check.servedSize == 0)
        return check; // BadMagic or BadHeaderCrc, set when the header came
    else if (m_dataSeen < check.header.dataSize)
        check.status = Status::Truncated;
    else
        check.status = m_dataCrc == check.header.dataCrc ? Status::Ok : Status::BadDataCrc;
    if (check.status != Status::Ok)
        check.servedSize = 0;
    return check;
}

Check checkFile(const QString& path) {
    QFile file(path);
    // Unbuffered: the slices go straight into our buffer, not through a second copy.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        Check failed;
        failed.status = Status::ReadError;
        failed.readError = file.errorString();
        return failed;
    }
    Checker checker;
    const auto slice = std::make_unique_for_overwrite<Slice>();
    for (;;) {
        const qint64 got = file.read(slice->bytes, kSliceSize);
        if (got < 0) {
            Check failed = checker.finish();
            failed.status = Status::ReadError;
            failed.servedSize = 0;
            failed.readError = file.errorString();
            return failed;
        }
        if (got == 0 || !checker.feed(slice->bytes, std::size_t(got)))
            return checker.finish();
    }
}

QString archName(std::uint8_t arch) {
    static constexpr std::array<const char*, 27> kNames = {
        nullptr,      "Alpha",   "ARM",      "x86",    "IA-64",   "MIPS",    "MIPS64",
        "PowerPC",    "S390",    "SuperH",   "SPARC",  "SPARC64", "M68K",    "Nios",
        "MicroBlaze", "Nios II", "Blackfin", "AVR32",  "ST200",   "Sandbox", "NDS32",
        "OpenRISC",   "ARM64",   "ARC",      "x86-64", "Xtensa",  "RISC-V"};
    return nameFrom(kNames, arch);
}

QString typeName(std::uint8_t type) {
    static constexpr std::array<const char*, 9> kNames = {
        nullptr,    "Standalone", "Kernel",     "RAMDisk",         "Multi-File",
        "Firmware", "Script",     "Filesystem", "Flat Device Tree"};
    return nameFrom(kNames, type);
}

QString compressionName(std::uint8_t compression) {
    static constexpr std::array<const char*, 7> kNames = {"none", "gzip", "bzip2", "lzma",
                                                          "lzo",  "lz4",  "zstd"};
    return nameFrom(kNames, compression);
}

bool fitsReceiver(const Header& header) {
    return header.arch == kArchSuperH && (header.type == kTypeKernel || header.type == kTypeMulti);
}

} // namespace bootimage
