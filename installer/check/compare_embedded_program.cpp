// Build check, run on the build machine: the resource BIN 129 of Install_Corvane.exe
// must equal the Corvane.exe of the same build byte for byte, so a stale copy of the
// resident program can never ship.
//
//   compare_embedded_program <Install_Corvane.exe> <Corvane.exe>
//
// Reads the PE resource directory itself (PE32 and PE32+) so that it runs on any host.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned RESOURCE_DIRECTORY_INDEX = 2;
constexpr std::uint32_t HIGH_BIT = 0x80000000u;
constexpr const char* PAYLOAD_TYPE = "BIN";
constexpr std::uint32_t PAYLOAD_ID = 129;

bool ReadFile(const char* path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Read16(const Bytes& b, std::uint64_t at, std::uint32_t& value) {
  if (at + 2 > b.size()) return false;
  value = b[at] | b[at + 1] << 8;
  return true;
}

bool Read32(const Bytes& b, std::uint64_t at, std::uint32_t& value) {
  if (at + 4 > b.size()) return false;
  value = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
  return true;
}

struct Section {
  std::uint32_t VirtualAddress, VirtualSize, RawOffset, RawSize;
};

struct Image {
  const Bytes* File;
  std::vector<Section> Sections;
  std::uint64_t ResourceStart;  // file offset of the resource directory
};

bool RvaToOffset(const Image& image, std::uint32_t rva, std::uint32_t size, std::uint64_t& offset) {
  for (const Section& s : image.Sections) {
    if (rva < s.VirtualAddress || rva - s.VirtualAddress >= s.RawSize) continue;
    std::uint64_t within = rva - s.VirtualAddress;
    if (within + size > s.RawSize) return false;
    offset = s.RawOffset + within;
    return offset + size <= image.File->size();
  }
  return false;
}

const char* OpenImage(const Bytes& file, Image& image) {
  image.File = &file;
  std::uint32_t magic, peOffset, signature, sectionCount, optionalSize, optionalMagic;
  if (!Read16(file, 0, magic) || magic != 0x5A4D) return "not an MZ executable";
  if (!Read32(file, 0x3C, peOffset) || !Read32(file, peOffset, signature) || signature != 0x4550)
    return "no PE header";
  std::uint64_t fileHeader = peOffset + 4u;
  if (!Read16(file, fileHeader + 2, sectionCount) || !Read16(file, fileHeader + 16, optionalSize))
    return "truncated file header";
  std::uint64_t optional = fileHeader + 20;
  if (!Read16(file, optional, optionalMagic)) return "truncated optional header";
  std::uint64_t directories;
  std::uint32_t directoryCount;
  if (optionalMagic == 0x10B) {
    directories = optional + 96;
    if (!Read32(file, optional + 92, directoryCount)) return "truncated optional header";
  } else if (optionalMagic == 0x20B) {
    directories = optional + 112;
    if (!Read32(file, optional + 108, directoryCount)) return "truncated optional header";
  } else {
    return "unknown optional header";
  }
  std::uint32_t resourceRva, resourceSize;
  if (directoryCount <= RESOURCE_DIRECTORY_INDEX ||
      !Read32(file, directories + 8 * RESOURCE_DIRECTORY_INDEX, resourceRva) ||
      !Read32(file, directories + 8 * RESOURCE_DIRECTORY_INDEX + 4, resourceSize) || resourceRva == 0)
    return "no resource directory";

  std::uint64_t table = optional + optionalSize;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    std::uint64_t at = table + 40ull * i;
    Section s;
    if (!Read32(file, at + 8, s.VirtualSize) || !Read32(file, at + 12, s.VirtualAddress) ||
        !Read32(file, at + 16, s.RawSize) || !Read32(file, at + 20, s.RawOffset))
      return "truncated section table";
    image.Sections.push_back(s);
  }
  if (!RvaToOffset(image, resourceRva, resourceSize, image.ResourceStart)) return "resource directory outside the file";
  return nullptr;
}

// Name of a named directory entry, upper-cased ASCII (resource compilers store type
// names in upper case; anything else cannot match "BIN").
bool EntryName(const Image& image, std::uint32_t nameOffset, std::string& name) {
  const Bytes& b = *image.File;
  std::uint64_t at = image.ResourceStart + nameOffset;
  std::uint32_t length;
  if (!Read16(b, at, length)) return false;
  name.clear();
  for (std::uint32_t i = 0; i < length; ++i) {
    std::uint32_t c;
    if (!Read16(b, at + 2 + 2ull * i, c)) return false;
    name.push_back(c < 0x80 ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c) : '?');
  }
  return true;
}

// Finds the entry of the directory at dirOffset whose name (when name is set) or
// numeric id matches; entryData receives its offset field.
bool FindEntry(const Image& image, std::uint32_t dirOffset, const char* name, std::uint32_t id,
               std::uint32_t& entryData) {
  const Bytes& b = *image.File;
  std::uint64_t dir = image.ResourceStart + dirOffset;
  std::uint32_t namedCount, idCount;
  if (!Read16(b, dir + 12, namedCount) || !Read16(b, dir + 14, idCount)) return false;
  for (std::uint32_t i = 0; i < namedCount + idCount; ++i) {
    std::uint32_t entryName, data;
    if (!Read32(b, dir + 16 + 8ull * i, entryName) || !Read32(b, dir + 20 + 8ull * i, data)) return false;
    bool isNamed = (entryName & HIGH_BIT) != 0;
    if (name) {
      std::string text;
      if (isNamed && EntryName(image, entryName & ~HIGH_BIT, text) && text == name) {
        entryData = data;
        return true;
      }
    } else if (!isNamed && entryName == id) {
      entryData = data;
      return true;
    }
  }
  return false;
}

const char* FindPayload(const Image& image, std::uint64_t& offset, std::uint32_t& size) {
  const Bytes& b = *image.File;
  std::uint32_t typeDir, idDir;
  if (!FindEntry(image, 0, PAYLOAD_TYPE, 0, typeDir) || !(typeDir & HIGH_BIT)) return "no resource type BIN";
  if (!FindEntry(image, typeDir & ~HIGH_BIT, nullptr, PAYLOAD_ID, idDir) || !(idDir & HIGH_BIT))
    return "no resource BIN 129";
  // Exactly one language: two copies would leave open which one the installer loads.
  std::uint64_t languageDir = image.ResourceStart + (idDir & ~HIGH_BIT);
  std::uint32_t namedCount, idCount, leaf;
  if (!Read16(b, languageDir + 12, namedCount) || !Read16(b, languageDir + 14, idCount) || namedCount + idCount != 1)
    return "resource BIN 129 is not present in exactly one language";
  if (!Read32(b, languageDir + 20, leaf) || (leaf & HIGH_BIT)) return "malformed resource BIN 129";
  std::uint32_t dataRva;
  if (!Read32(b, image.ResourceStart + leaf, dataRva) || !Read32(b, image.ResourceStart + leaf + 4, size))
    return "malformed resource BIN 129";
  if (!RvaToOffset(image, dataRva, size, offset)) return "resource BIN 129 lies outside the file";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <Install_Corvane.exe> <Corvane.exe>\n", argv[0]);
    return 2;
  }
  Bytes installer, program;
  if (!ReadFile(argv[1], installer) || !ReadFile(argv[2], program)) {
    std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  Image image;
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  const char* error = OpenImage(installer, image);
  if (!error) error = FindPayload(image, offset, size);
  if (error) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error);
    return 1;
  }
  if (size != program.size() || std::memcmp(installer.data() + offset, program.data(), size) != 0) {
    std::fprintf(stderr, "%s: resource BIN 129 (%u bytes) differs from %s (%zu bytes)\n", argv[1],
                 static_cast<unsigned>(size), argv[2], program.size());
    return 1;
  }
  std::printf("Install_Corvane carries %s unchanged (%u bytes)\n", argv[2], static_cast<unsigned>(size));
  return 0;
}
