#include "tools/publish/pe_signature.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kPe32Magic = 0x10b;
constexpr std::uint16_t kPe32PlusMagic = 0x20b;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kPkcsSignedData = 0x0002;

// Little-endian reads at a file offset; false when the file ends first.
class PeReader {
 public:
  explicit PeReader(const fs::path& file) : in_(file, std::ios::binary) {
    std::error_code error;
    size_ = fs::file_size(file, error);
    if (error) size_ = 0;
  }
  std::uint64_t size() const { return size_; }
  bool read(std::uint64_t offset, unsigned bytes, std::uint32_t& value) {
    unsigned char buffer[4] = {};
    if (!in_ || offset + bytes > size_) return false;
    in_.seekg(static_cast<std::streamoff>(offset));
    if (!in_.read(reinterpret_cast<char*>(buffer), bytes)) return false;
    value = 0;
    for (unsigned i = bytes; i > 0; --i) value = (value << 8) | buffer[i - 1];
    return true;
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
};

bool isExecutableName(const fs::path& file) {
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return extension == ".exe" || extension == ".dll";
}

}  // namespace

PeSignature peSignatureOf(const fs::path& file) {
  PeReader pe(file);
  std::uint32_t mz = 0, headerOffset = 0, signature = 0, optionalSize = 0, magic = 0;
  if (!pe.read(0, 2, mz) || mz != 0x5A4D || !pe.read(0x3C, 4, headerOffset)) return PeSignature::NotPe;
  if (!pe.read(headerOffset, 4, signature) || signature != 0x00004550) return PeSignature::NotPe;
  const std::uint64_t optional = std::uint64_t{headerOffset} + 24;
  if (!pe.read(headerOffset + 20ull, 2, optionalSize) || !pe.read(optional, 2, magic)) return PeSignature::NotPe;
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return PeSignature::NotPe;
  // The data directories follow the fixed fields, which are 16 bytes longer in PE32+.
  const std::uint64_t countField = magic == kPe32Magic ? 92 : 108;
  const std::uint64_t directories = countField + 4;
  std::uint32_t count = 0;
  if (!pe.read(optional + countField, 4, count)) return PeSignature::NotPe;
  const std::uint64_t entry = directories + kCertificateDirectory * 8;
  if (count <= kCertificateDirectory || entry + 8 > optionalSize) return PeSignature::Unsigned;
  // The certificate table's "address" is a file offset, unlike every other directory's.
  std::uint32_t tableOffset = 0, tableSize = 0;
  if (!pe.read(optional + entry, 4, tableOffset) || !pe.read(optional + entry + 4, 4, tableSize)) {
    return PeSignature::NotPe;
  }
  if (tableOffset == 0 || tableSize < 8 || std::uint64_t{tableOffset} + tableSize > pe.size()) {
    return PeSignature::Unsigned;
  }
  std::uint32_t length = 0, revision = 0, type = 0;
  if (!pe.read(tableOffset, 4, length) || !pe.read(tableOffset + 4ull, 2, revision) ||
      !pe.read(tableOffset + 6ull, 2, type)) {
    return PeSignature::Unsigned;
  }
  const bool signedData =
      length > 8 && length <= tableSize && revision == kCertificateRevision2 && type == kPkcsSignedData;
  return signedData ? PeSignature::Signed : PeSignature::Unsigned;
}

bool unsignedExecutables(const fs::path& source, std::vector<std::string>& problems, std::string& error) {
  std::error_code walkError;
  fs::recursive_directory_iterator walk(source, walkError);
  for (; !walkError && walk != fs::recursive_directory_iterator(); walk.increment(walkError)) {
    if (walk->is_symlink(walkError) || !walk->is_regular_file(walkError) || !isExecutableName(walk->path())) continue;
    const PeSignature state = peSignatureOf(walk->path());
    if (state == PeSignature::Signed) continue;
    problems.push_back(walk->path().lexically_relative(source).generic_string() +
                       (state == PeSignature::NotPe ? ": not a PE file" : ": no Authenticode signature"));
  }
  if (walkError) {
    error = "cannot read " + source.string() + ": " + walkError.message();
    return false;
  }
  std::sort(problems.begin(), problems.end());
  return true;
}

}  // namespace publish
