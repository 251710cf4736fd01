#include "support/ZipBuilder.h"

#include <zlib.h>

namespace tarvil::test {

namespace {

void put16(QByteArray &out, std::uint32_t v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(QByteArray &out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

QByteArray zipArchive(const QList<ZipEntry> &entries)
{
    QByteArray out;
    QByteArray directory;
    for (const ZipEntry &e : entries) {
        const QByteArray body = e.deflate ? rawDeflate(e.data) : e.data;
        const auto crc = e.declaredCrc.value_or(
            std::uint32_t(crc32(0L, reinterpret_cast<const Bytef *>(e.data.constData()), uInt(e.data.size()))));
        const auto size = e.declaredSize.value_or(std::uint32_t(e.data.size()));
        const auto offset = std::uint32_t(out.size());
        const auto header = [&](QByteArray &to, bool central) {
            put32(to, central ? 0x02014b50 : 0x04034b50);
            if (central)
                put16(to, 20); // made by
            put16(to, 20);     // needed
            put16(to, 0);      // flags
            put16(to, e.deflate ? 8 : 0);
            put16(to, 0);      // time
            put16(to, 0x21);   // 1980-01-01
            put32(to, crc);
            put32(to, std::uint32_t(body.size()));
            put32(to, size);
            put16(to, std::uint32_t(e.name.size()));
            put16(to, 0); // extra
            if (central) {
                put16(to, 0); // comment
                put16(to, 0); // disk
                put16(to, 0); // internal attributes
                put32(to, 0); // external attributes
                put32(to, offset);
            }
            to += e.name;
        };
        header(out, false);
        out += body;
        header(directory, true);
    }
    const auto start = std::uint32_t(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, std::uint32_t(entries.size()));
    put16(out, std::uint32_t(entries.size()));
    put32(out, std::uint32_t(directory.size()));
    put32(out, start);
    put16(out, 0);
    return out;
}

QList<ZipEntry> workbookParts(const QByteArray &sheet, const QByteArray &sharedStringsXml, const QByteArray &sheetName)
{
    const QByteArray ns = R"(xmlns="http://schemas.openxmlformats.org/package/2006/relationships")";
    QByteArray workbookRels = "<Relationships " + ns
                              + R"(><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)";
    if (!sharedStringsXml.isEmpty())
        workbookRels += R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)";
    workbookRels += "</Relationships>";
    QList<ZipEntry> parts{
        {"_rels/.rels",
         "<Relationships " + ns
             + R"(><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
        {"xl/workbook.xml",
         R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name=")"
             + sheetName + R"(" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
        {"xl/_rels/workbook.xml.rels", workbookRels},
        {"xl/worksheets/sheet1.xml", sheet},
    };
    if (!sharedStringsXml.isEmpty())
        parts << ZipEntry{"xl/sharedStrings.xml", sharedStringsXml};
    return parts;
}

QByteArray sheetXml(const QByteArray &rows)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
           + rows + "</sheetData></worksheet>";
}

} // namespace tarvil::test
