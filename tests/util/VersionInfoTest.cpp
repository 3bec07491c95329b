#include "util/VersionInfo.h"
#include "util/VersionSection.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include "tests/support/Print.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// A minimal ELF image: header, the version section's bytes, the section-name table, and the
// section-header table last (as the GNU linker lays it out), so any truncation cuts into it.
struct ElfSpec
{
    bool Is64 = true;
    bool Little = true;
    quint32 Words[5] = {kVersionSectionSignature, 0x00020003, 0x00040005, 0xFFFF0001, 0x8000FFFF};
    qsizetype DataSize = 20;
    quint32 SectionType = 1; // SHT_PROGBITS
    const char* SectionName = VORN_VERSION_SECTION_NAME;
    bool ExtendedNumbering = false;
};

class ImageWriter
{
public:
    ImageWriter(const ElfSpec& spec) : FSpec(spec) {}
    QByteArray Bytes;

    void Put(quint64 value, int width)
    {
        for (int i = 0; i < width; ++i) {
            const int shift = FSpec.Little ? 8 * i : 8 * (width - 1 - i);
            Bytes.append(char((value >> shift) & 0xFF));
        }
    }
    void PutAt(qsizetype at, quint64 value, int width)
    {
        const QByteArray saved = Bytes;
        Bytes.truncate(at);
        Put(value, width);
        Bytes.append(saved.mid(at + width));
    }
    void Address(quint64 value) { Put(value, FSpec.Is64 ? 8 : 4); }

private:
    const ElfSpec& FSpec;
};

QByteArray BuildElf(const ElfSpec& spec)
{
    ImageWriter w(spec);
    const int headerSize = spec.Is64 ? 64 : 52;
    const int entrySize = spec.Is64 ? 64 : 40;
    w.Bytes = QByteArray("\x7f"
                         "ELF",
                         4);
    w.Bytes.append(char(spec.Is64 ? 2 : 1)).append(char(spec.Little ? 1 : 2)).append(char(1));
    w.Bytes.append(QByteArray(9, '\0'));
    w.Put(2, 2);  // e_type: executable
    w.Put(62, 2); // e_machine
    w.Put(1, 4);  // e_version
    w.Address(0); // e_entry
    w.Address(0); // e_phoff
    const qsizetype shoffAt = w.Bytes.size();
    w.Address(0); // e_shoff, filled in below
    w.Put(0, 4);  // e_flags
    w.Put(headerSize, 2);
    w.Put(0, 2);
    w.Put(0, 2);
    w.Put(entrySize, 2);
    w.Put(spec.ExtendedNumbering ? 0 : 3, 2);
    w.Put(spec.ExtendedNumbering ? 0xFFFF : 2, 2);

    const quint64 dataOffset = w.Bytes.size();
    for (quint32 word : spec.Words)
        w.Put(word, 4);
    w.Bytes.truncate(dataOffset + spec.DataSize);
    const quint64 namesOffset = w.Bytes.size();
    const QByteArray names = QByteArray(1, '\0') + spec.SectionName + '\0' + ".shstrtab" + '\0';
    w.Bytes.append(names);
    const quint64 nameOfSection = 1, nameOfNames = 2 + qstrlen(spec.SectionName);

    const quint64 tableOffset = w.Bytes.size();
    w.PutAt(shoffAt, tableOffset, spec.Is64 ? 8 : 4);
    auto section = [&](quint64 name, quint32 type, quint64 offset, quint64 size, quint32 link) {
        const qsizetype start = w.Bytes.size();
        w.Put(name, 4);
        w.Put(type, 4);
        w.Address(0); // sh_flags
        w.Address(0); // sh_addr
        w.Address(offset);
        w.Address(size);
        w.Put(link, 4);
        w.Bytes.append(QByteArray(entrySize - (w.Bytes.size() - start), '\0'));
    };
    section(0, 0, 0, spec.ExtendedNumbering ? 3 : 0, spec.ExtendedNumbering ? 2 : 0);
    section(nameOfSection, spec.SectionType, dataOffset, spec.DataSize, 0);
    section(nameOfNames, 3, namesOffset, names.size(), 0);
    return w.Bytes;
}

bool IsEmpty(const TFileVersions& v)
{
    return v.Product.isEmpty() && v.File.isEmpty();
}

TEST(GetFileVersions, ReadsTheSectionOfThisExecutable)
{
    const TFileVersions v = GetFileVersions(QCoreApplication::applicationFilePath());
    EXPECT_EQ(v.Product, QStringLiteral(VORN_EXPECTED_PRODUCT_VERSION));
    EXPECT_EQ(v.File, QStringLiteral(VORN_EXPECTED_FILE_VERSION));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(v.File).hasMatch());
}

TEST(GetFileVersions, DecodesEveryClassAndByteOrder)
{
    for (bool is64 : {true, false})
        for (bool little : {true, false})
            for (bool extended : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "64-bit " << is64 << " little " << little << " extended " << extended);
                ElfSpec spec;
                spec.Is64 = is64;
                spec.Little = little;
                spec.ExtendedNumbering = extended;
                const TFileVersions v = GetFileVersionsFromImage(BuildElf(spec));
                EXPECT_EQ(v.Product, QStringLiteral("2.3.4.5"));
                EXPECT_EQ(v.File, QStringLiteral("65535.1.32768.65535")); // unsigned halves
            }
}

TEST(GetFileVersions, RejectsAnInvalidSection)
{
    ElfSpec badSignature;
    badSignature.Words[0] = 0xFEEF04BC;
    ElfSpec tooShort;
    tooShort.DataSize = 19;
    ElfSpec noBits;
    noBits.SectionType = 8;
    ElfSpec otherName;
    otherName.SectionName = ".vorn_versio";
    ElfSpec longerName;
    longerName.SectionName = ".vorn_version2";
    for (const ElfSpec* spec : {&badSignature, &tooShort, &noBits, &otherName, &longerName})
        EXPECT_TRUE(IsEmpty(GetFileVersionsFromImage(BuildElf(*spec))));
}

TEST(GetFileVersions, SurvivesTruncatedAndDamagedImages)
{
    const QByteArray good = BuildElf(ElfSpec{});
    ASSERT_FALSE(IsEmpty(GetFileVersionsFromImage(good)));
    for (qsizetype length = 0; length < good.size(); ++length)
        EXPECT_TRUE(IsEmpty(GetFileVersionsFromImage(good.left(length)))) << "cut at " << length;

    // Any header or table byte set to extreme values: out-of-range offsets, sizes, counts and
    // name indexes must be caught (AddressSanitizer watches the reads).
    const QRegularExpression versionText(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"));
    for (qsizetype at = 0; at < good.size(); ++at)
        for (char value : {'\x00', '\x7f', '\x80', '\xff'}) {
            QByteArray damaged = good;
            damaged[at] = value;
            const TFileVersions v = GetFileVersionsFromImage(damaged);
            EXPECT_TRUE(IsEmpty(v) ||
                        (versionText.match(v.Product).hasMatch() && versionText.match(v.File).hasMatch()))
                << "byte " << at;
        }
}

TEST(GetFileVersions, FilesWithoutTheSectionGiveEmptyTexts)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    QFile text(temp.filePath("plain.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not an executable\n");
    text.close();
    ASSERT_EQ(mkfifo(temp.filePath("pipe").toUtf8().constData(), 0600), 0);

    for (const QString& path : {temp.filePath("plain.txt"), temp.filePath("missing"), temp.path(),
                                temp.filePath("pipe"), QStringLiteral("/bin/true"), QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(IsEmpty(GetFileVersions(path)));
    }
}

} // namespace
