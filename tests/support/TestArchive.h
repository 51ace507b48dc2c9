#pragma once

// Zip archives written byte for byte by the tests: stored entries with any name
// bytes (hostile, over-long, GBK) and, on request, a CRC, an uncompressed size or an
// entry count that does not match the data.

#include "common/ArchiveWalk.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TestEntry {
    TestEntry(std::string entryName, std::string entryData = {},
              std::optional<std::uint32_t> storedCrc = std::nullopt,
              std::optional<std::uint32_t> declaredSize = std::nullopt, std::uint16_t generalFlags = 0)
        : name(std::move(entryName)), data(std::move(entryData)), crc(storedCrc),
          uncompressedSize(declaredSize), flags(generalFlags)
    {
    }

    std::string name; // stored as given; a trailing separator makes a folder entry
    std::string data;
    std::optional<std::uint32_t> crc; // the data's CRC-32 unless set
    // The uncompressed size both headers declare; the data's own size unless set.
    std::optional<std::uint32_t> uncompressedSize;
    std::uint16_t flags; // the general-purpose flags of both headers
};

// General-purpose flag bit 11: the name is UTF-8.
constexpr std::uint16_t kUtf8Name = 1u << 11;

// 2021-06-15 13:45:30, the local time every test entry carries.
constexpr std::uint16_t kEntryDosDate = ((2021 - 1980) << 9) | (6 << 5) | 15;
constexpr std::uint16_t kEntryDosTime = (13 << 11) | (45 << 5) | (30 / 2);

// `claimedCount`, when not 0, is the number of entries the end record claims instead
// of the real one; more than there are makes the move past the last real entry fail.
std::string zipBytes(const std::vector<TestEntry>& entries, std::size_t claimedCount = 0);
void writeArchive(const std::wstring& path, const std::vector<TestEntry>& entries, std::size_t claimedCount = 0);
void writeArchive(const std::string& path, const std::vector<TestEntry>& entries, std::size_t claimedCount = 0);
// Opened by its UTF-16 path through the Win32 file functions.
UniqueArchive openArchive(const std::wstring& path);
