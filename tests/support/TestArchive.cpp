#include "tests/support/TestArchive.h"

#include "tests/support/TestFiles.h"

#include "iowin32.h"
#include "zlib.h"

namespace {

void put16(std::string& out, std::uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

std::string zipBytes(const std::vector<TestEntry>& entries, std::size_t claimedCount)
{
    std::string out;
    std::string directory;
    for (const TestEntry& entry : entries) {
        const std::uint32_t crc = entry.crc.value_or(static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                  static_cast<uInt>(entry.data.size()))));
        const auto size = static_cast<std::uint32_t>(entry.data.size());
        const std::uint32_t declared = entry.uncompressedSize.value_or(size);
        const auto nameSize = static_cast<std::uint32_t>(entry.name.size());
        const auto offset = static_cast<std::uint32_t>(out.size());

        put32(out, 0x04034B50);
        put16(out, 10);   // version needed
        put16(out, entry.flags);
        put16(out, 0);    // stored
        put16(out, kEntryDosTime);
        put16(out, kEntryDosDate);
        put32(out, crc);
        put32(out, size);
        put32(out, declared);
        put16(out, nameSize);
        put16(out, 0);
        out += entry.name;
        out += entry.data;

        put32(directory, 0x02014B50);
        put16(directory, 20); // made by
        put16(directory, 10); // needed
        put16(directory, entry.flags);
        put16(directory, 0);
        put16(directory, kEntryDosTime);
        put16(directory, kEntryDosDate);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, declared);
        put16(directory, nameSize);
        put16(directory, 0); // extra
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += entry.name;
    }
    const auto directoryOffset = static_cast<std::uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    const auto count = static_cast<std::uint32_t>(claimedCount ? claimedCount : entries.size());
    put16(out, count);
    put16(out, count);
    put32(out, static_cast<std::uint32_t>(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

void writeArchive(const std::wstring& path, const std::vector<TestEntry>& entries, std::size_t claimedCount)
{
    writeFile(path, zipBytes(entries, claimedCount));
}

void writeArchive(const std::string& path, const std::vector<TestEntry>& entries, std::size_t claimedCount)
{
    writeArchive(widen(path), entries, claimedCount);
}

UniqueArchive openArchive(const std::wstring& path)
{
    zlib_filefunc64_def functions{};
    fill_win32_filefunc64W(&functions);
    return UniqueArchive(unzOpen2_64(path.c_str(), &functions));
}
