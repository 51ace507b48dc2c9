#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Writes small zip archives with stored (uncompressed) entries, enough to give the
// extraction real archives with exactly the names, contents and CRCs a test needs.
class ZipWriter {
public:
    // `badCrc` records a wrong CRC for the entry, so reading it fails at its end.
    void add(const std::string& name, const std::string& data, bool badCrc = false)
    {
        addDeclaring(name, data, static_cast<std::uint32_t>(data.size()), badCrc);
    }

    // The entry's uncompressed size is recorded as `declaredSize` in both headers, so
    // the data ends before (or after) the size the reader expects.
    void addDeclaring(const std::string& name, const std::string& data, std::uint32_t declaredSize,
                      bool badCrc = false)
    {
        entries_.push_back({name, data,
                            crc32(0L, reinterpret_cast<const Bytef*>(data.data()),
                                  static_cast<uInt>(data.size())) ^ (badCrc ? 1u : 0u),
                            declaredSize});
    }

    // The end record claims `count` entries instead of the real number; more than there
    // are makes the move past the last real entry fail.
    void claimCount(std::size_t count) { claimedCount_ = count; }

    void save(const std::string& path) const
    {
        std::string out;
        std::string directory;
        for (const Entry& e : entries_) {
            const auto offset = static_cast<std::uint32_t>(out.size());
            out += u32(0x04034b50) + u16(10) + u16(0) + u16(0) + u16(0x6000) + u16(0x5821) +
                   u32(e.crc) + u32(size(e.data)) + u32(e.declaredSize) + u16(size(e.name)) + u16(0) +
                   e.name + e.data;
            directory += u32(0x02014b50) + u16(20) + u16(10) + u16(0) + u16(0) + u16(0x6000) +
                         u16(0x5821) + u32(e.crc) + u32(size(e.data)) + u32(e.declaredSize) +
                         u16(size(e.name)) + u16(0) + u16(0) + u16(0) + u16(0) + u32(0) +
                         u32(offset) + e.name;
        }
        const auto directoryOffset = static_cast<std::uint32_t>(out.size());
        out += directory;
        const std::size_t count = claimedCount_ ? claimedCount_ : entries_.size();
        out += u32(0x06054b50) + u16(0) + u16(0) + u16(count) + u16(count) +
               u32(size(directory)) + u32(directoryOffset) + u16(0);
        std::ofstream(path, std::ios::binary) << out;
    }

private:
    struct Entry {
        std::string name, data;
        std::uint32_t crc;
        std::uint32_t declaredSize;
    };
    static std::uint32_t size(const std::string& s) { return static_cast<std::uint32_t>(s.size()); }
    static std::string u16(std::size_t v)
    {
        return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    }
    static std::string u32(std::uint32_t v) { return u16(v & 0xFFFF) + u16(v >> 16); }

    std::vector<Entry> entries_;
    std::size_t claimedCount_ = 0;
};
