#include "util/VersionInfo.h"
#include "util/UniqueFd.h"

#include "util/VersionSection.h"

#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads exactly length bytes at offset; false when they are not all there.
using ReadAt = std::function<bool(quint64 offset, quint64 length, QByteArray& out)>;

// Every offset and size below comes from the file and is checked against its size before use,
// so a truncated or hostile file ends in "no version", never in a read out of bounds.
class ElfReader
{
public:
    ElfReader(quint64 fileSize, ReadAt readAt) : FFileSize(fileSize), FReadAt(std::move(readAt)) {}

    bool Read(quint64 offset, quint64 length, QByteArray& out) const
    {
        constexpr quint64 kLargestRead = 64 * 1024 * 1024; // a section-header table or name table
        return offset <= FFileSize && length <= FFileSize - offset && length <= kLargestRead &&
               FReadAt(offset, length, out);
    }

    bool FromHeader(const QByteArray& ident)
    {
        if (ident.size() < 16 || std::memcmp(ident.constData(),
                                             "\x7f"
                                             "ELF",
                                             4) != 0)
            return false;
        const char elfClass = ident[4], data = ident[5];
        if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2))
            return false;
        F64 = elfClass == 2;
        FLittle = data == 1;
        return true;
    }

    bool Is64() const { return F64; }

    quint64 Field(const QByteArray& bytes, qsizetype offset, qsizetype width) const
    {
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + offset;
        switch (width) {
        case 2:
            return FLittle ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
        case 4:
            return FLittle ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
        default:
            return FLittle ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
        }
    }

private:
    quint64 FFileSize;
    ReadAt FReadAt;
    bool F64 = false;
    bool FLittle = true;
};

// Where the fields lie in the ELF header and in a section header, for ELF32 and ELF64.
struct ElfLayout
{
    qsizetype HeaderSize, ShOff, ShOffWidth, ShEntSize, ShNum, ShStrNdx;
    qsizetype SectionHeaderSize, Name, Type, Offset, Size, Link, AddrWidth;
};
constexpr ElfLayout kElf32 = {52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24, 4};
constexpr ElfLayout kElf64 = {64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40, 8};

constexpr quint32 kSectionNoBits = 8;      // SHT_NOBITS: a section that takes no room in the file
constexpr quint64 kExtendedIndex = 0xFFFF; // SHN_XINDEX: the real index is in section 0

struct Section
{
    quint32 Name;
    quint32 Type;
    quint64 Offset;
    quint64 Size;
    quint32 Link;
};

class ElfFile
{
public:
    ElfFile(quint64 fileSize, ReadAt readAt) : FReader(fileSize, std::move(readAt)) {}

    bool FindSectionData(const char* wanted, qsizetype length, QByteArray& data)
    {
        if (!ReadSectionTable())
            return false;
        QByteArray names;
        const Section& nameTable = SectionAt(FNameTableIndex);
        if (nameTable.Type == kSectionNoBits || !FReader.Read(nameTable.Offset, nameTable.Size, names))
            return false;
        const qsizetype wantedLength = qstrlen(wanted);
        for (quint64 i = 0; i < FCount; ++i) {
            const Section section = SectionAt(i);
            // The name must fit, terminator included, inside the name table.
            if (section.Name >= quint64(names.size()) || names.size() - section.Name <= wantedLength ||
                std::memcmp(names.constData() + section.Name, wanted, wantedLength + 1) != 0)
                continue;
            return section.Type != kSectionNoBits && section.Size >= quint64(length) &&
                   FReader.Read(section.Offset, length, data);
        }
        return false;
    }

    quint32 Word(const QByteArray& bytes, qsizetype offset) const
    {
        return static_cast<quint32>(FReader.Field(bytes, offset, 4));
    }

private:
    bool ReadSectionTable()
    {
        QByteArray header;
        if (!FReader.Read(0, 16, header) || !FReader.FromHeader(header))
            return false;
        FLayout = FReader.Is64() ? &kElf64 : &kElf32;
        if (!FReader.Read(0, FLayout->HeaderSize, header))
            return false;
        const quint64 tableOffset = FReader.Field(header, FLayout->ShOff, FLayout->ShOffWidth);
        FEntrySize = FReader.Field(header, FLayout->ShEntSize, 2);
        FCount = FReader.Field(header, FLayout->ShNum, 2);
        FNameTableIndex = FReader.Field(header, FLayout->ShStrNdx, 2);
        if (tableOffset == 0 || FEntrySize < quint64(FLayout->SectionHeaderSize))
            return false;

        // With many sections the counts move into section 0 (extended numbering).
        if (FCount == 0 || FNameTableIndex == kExtendedIndex) {
            QByteArray first;
            if (!FReader.Read(tableOffset, FLayout->SectionHeaderSize, first))
                return false;
            FTable = first;
            const Section zero = SectionAt(0);
            if (FCount == 0)
                FCount = zero.Size;
            if (FNameTableIndex == kExtendedIndex)
                FNameTableIndex = zero.Link;
        }
        if (FCount == 0 || FNameTableIndex >= FCount || FCount > UINT64_MAX / FEntrySize)
            return false;
        return FReader.Read(tableOffset, FCount * FEntrySize, FTable);
    }

    Section SectionAt(quint64 index) const
    {
        const QByteArray& t = FTable;
        const qsizetype base = static_cast<qsizetype>(index * FEntrySize);
        const qsizetype width = FLayout->AddrWidth;
        return {static_cast<quint32>(FReader.Field(t, base + FLayout->Name, 4)),
                static_cast<quint32>(FReader.Field(t, base + FLayout->Type, 4)),
                FReader.Field(t, base + FLayout->Offset, width),
                FReader.Field(t, base + FLayout->Size, width),
                static_cast<quint32>(FReader.Field(t, base + FLayout->Link, 4))};
    }

    ElfReader FReader;
    const ElfLayout* FLayout = nullptr;
    QByteArray FTable;
    quint64 FEntrySize = 0;
    quint64 FCount = 0;
    quint64 FNameTableIndex = 0;
};

QString VersionText(quint32 ms, quint32 ls)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ms >> 16).arg(ms & 0xFFFF).arg(ls >> 16).arg(ls & 0xFFFF);
}

TFileVersions ParseVersions(quint64 fileSize, ReadAt readAt)
{
    ElfFile elf(fileSize, std::move(readAt));
    QByteArray data;
    if (!elf.FindSectionData(VORN_VERSION_SECTION_NAME, sizeof(TVersionSectionData), data))
        return {};
    if (elf.Word(data, offsetof(TVersionSectionData, Signature)) != kVersionSectionSignature)
        return {};
    return {VersionText(elf.Word(data, offsetof(TVersionSectionData, ProductVersionMS)),
                        elf.Word(data, offsetof(TVersionSectionData, ProductVersionLS))),
            VersionText(elf.Word(data, offsetof(TVersionSectionData, FileVersionMS)),
                        elf.Word(data, offsetof(TVersionSectionData, FileVersionLS)))};
}

bool ReadFully(int fd, quint64 offset, quint64 length, QByteArray& out)
{
    out.resize(static_cast<qsizetype>(length));
    quint64 done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<quint64>(got);
    }
    return true;
}

} // namespace

TFileVersions GetFileVersions(const QString& path)
{
    // Non-blocking open: a FIFO at the path must not hang the caller; only regular files are read.
    TUniqueFd file(open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info;
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    const int fd = file.Get();
    return ParseVersions(
        static_cast<quint64>(info.st_size),
        [fd](quint64 offset, quint64 length, QByteArray& out) { return ReadFully(fd, offset, length, out); });
}

TFileVersions GetFileVersionsFromImage(const QByteArray& image)
{
    return ParseVersions(quint64(image.size()), [&image](quint64 offset, quint64 length, QByteArray& out) {
        out = image.mid(static_cast<qsizetype>(offset), static_cast<qsizetype>(length));
        return true;
    });
}
