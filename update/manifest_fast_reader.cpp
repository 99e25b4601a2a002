#include "update/manifest_fast_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <rapidjson/reader.h>

#include "platform/filesystem.h"
#include "update/manifest_fields.h"
#include "update/manifest_entry_list.h"

namespace {

// The body as the reader's input, ending at its last byte: RapidJSON 1.1's string stream ends
// only at a NUL, and its check of a UTF-8 sequence cut by the end reads past that NUL.
class BodyStream {
 public:
  using Ch = char;
  BodyStream(const char* begin, std::size_t size) : begin_(begin), next_(begin), end_(begin + size) {}
  Ch Peek() const { return next_ == end_ ? '\0' : *next_; }
  Ch Take() { return next_ == end_ ? '\0' : *next_++; }
  std::size_t Tell() const { return static_cast<std::size_t>(next_ - begin_); }
  // Only an in-place parse writes; this one never does.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  const char* begin_;
  const char* next_;
  const char* end_;
};

}  // namespace

namespace rapidjson {
// Copied while a string or number is read, as its own string stream is: faster, and the
// stream the handler sees then stands at the string's opening quote.
template <>
struct StreamTraits<BodyStream> {
  enum { copyOptimization = 1 };
};
}  // namespace rapidjson

namespace {

// What the value of the key just read is for.
enum class Role { Path, Link, Size, Mtime, Sha256, Zst, Patches, FromSha256, Other };

Role roleOf(std::string_view name) {
  if (name == "path") return Role::Path;
  if (name == "size") return Role::Size;
  if (name == "mtime") return Role::Mtime;
  if (name == "link") return Role::Link;
  if (name == "sha256") return Role::Sha256;
  if (name == "zst") return Role::Zst;
  if (name == "patches") return Role::Patches;
  return Role::Other;
}

// The role of a key of an offered object ("zst" or an item of "patches").
Role objectRoleOf(std::string_view name) {
  if (name == "size") return Role::Size;
  if (name == "sha256") return Role::Sha256;
  if (name == "from_sha256") return Role::FromSha256;
  return Role::Other;
}

// A text field of the entry: absent, a text, or a value of another type.
enum class Field { Absent, Text, Other };

// A number as the JSON library reads it: an integer that fits 64 bits (signed when negative,
// unsigned otherwise, kept as its 64 bits) or else a double, which must be finite (it refuses
// the document otherwise: false). A double is truncated toward zero.
bool readNumber(const std::string& text, std::int64_t& value, bool& integer) {
  char* end = nullptr;
  if (text.find_first_of(".eE") == std::string::npos) {
    errno = 0;
    if (text[0] == '-') {
      const long long signedValue = std::strtoll(text.c_str(), &end, 10);
      if (errno == 0) {
        value = signedValue;
        integer = true;
        return true;
      }
    } else {
      const unsigned long long unsignedValue = std::strtoull(text.c_str(), &end, 10);
      if (errno == 0) {
        value = static_cast<std::int64_t>(unsignedValue);
        integer = true;
        return true;
      }
    }
  }
  const double number = std::strtod(text.c_str(), &end);
  if (!std::isfinite(number)) return false;
  value = truncateToInteger(number);
  integer = false;
  return true;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isDigest(std::string_view text) { return text.size() == 64 && std::all_of(text.begin(), text.end(), isHexDigit); }

std::string lowerDigest(std::string_view text) {
  std::string digest(text);
  for (char& c : digest) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  return digest;
}

// One offered object as it is read: each key's last value counts.
struct ObjectReading {
  std::int64_t size = 0;
  bool sizeValid = false;
  std::string sha256;
  std::string fromSha256;
  void reset() {
    size = 0;
    sizeValid = false;
    sha256.clear();
    fromSha256.clear();
  }
};

class FastHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FastHandler> {
 public:
  FastHandler(const std::string& body, const BodyStream& stream, bool signedManifest,
              ManifestEntryList& entries)
      : body_(body), stream_(stream), signed_(signedManifest), entries_(entries) {}

  bool unsure = false;  // stopped: ManifestReader must read this body
  bool rootIsArray = false;

  bool StartObject() { return startContainer(true); }
  bool StartArray() { return startContainer(false); }
  bool EndObject(rapidjson::SizeType) { return endContainer(); }
  bool EndArray(rapidjson::SizeType) { return endContainer(); }

  bool Key(const char* text, rapidjson::SizeType length, bool) {
    bool raw = false;
    if (!checkString(text, length, raw)) return false;
    const std::string_view name(text, length);
    if (entryValue()) {
      key_ = roleOf(name);
      // The keys of a candidate release, a request for health reports or automatic rollback
      // count only in an element without a path, which the JSON library reads.
      if (name == "rollout" || name == "candidate" || name == "health" || name == "auto_rollback") {
        otherElementKey_ = true;
      }
      // A repeated key replaces the earlier value, as in a tree of the document.
      if (key_ == Role::Zst) zst_ = Objects::Bad;
      if (key_ == Role::Patches) {
        patches_ = Objects::Bad;
        patchList_.clear();
      }
    } else if (inObject()) {
      objectKey_ = objectRoleOf(name);
    }
    return true;
  }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    bool raw = false;
    if (!checkString(text, length, raw)) return false;
    const std::string_view value(text, length);
    if (inObject()) {
      objectField(objectKey_ == Role::Size ? nullptr : &value, 0, false);
      return true;
    }
    if (inPatchList()) patches_ = Objects::Bad;  // an item that is no object
    if (!entryValue()) return true;
    switch (key_) {
      case Role::Path:
        path_ = Field::Text;
        pathRaw_ = raw;
        pathOffset_ = stringStart_;
        if (!raw) pathCopy_.assign(value);
        pathLength_ = length;
        break;
      case Role::Link:
        link_ = Field::Text;
        linkCopy_.assign(value);
        break;
      case Role::Size:
        size_ = parseLeadingInteger(std::string(value));
        break;
      case Role::Mtime:
        mtime_ = parseLeadingInteger(std::string(value));
        break;
      case Role::Sha256:
        sha_ = length == 64 && std::all_of(value.begin(), value.end(), isHexDigit) ? Field::Text : Field::Other;
        shaRaw_ = raw && std::none_of(value.begin(), value.end(), [](char c) { return c >= 'A' && c <= 'F'; });
        shaOffset_ = stringStart_;
        if (!shaRaw_ && sha_ == Field::Text) {
          shaCopy_.assign(value);
          for (char& c : shaCopy_) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        }
        break;
      case Role::Zst:
      case Role::Patches:
        zstOrPatchesBad();
        break;
      case Role::FromSha256:
      case Role::Other:
        break;
    }
    return true;
  }

  bool Null() { return scalar(0, false); }
  bool Bool(bool) { return scalar(0, false); }
  // Numbers come as their text (kParseNumbersAsStringsFlag): this reader's own conversion of
  // large values is not exact, and a number must be read as the JSON library reads it.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    std::int64_t value = 0;
    bool integer = false;
    if (!readNumber(std::string(text, length), value, integer)) return stop();
    return scalar(value, integer);
  }

 private:
  bool stop() {
    unsure = true;
    return false;
  }

  bool entryValue() const { return inEntry_ && depth_ == 2; }
  // The keys of the "zst" object, or of an item of "patches".
  bool inObject() const { return object_ != ObjectKind::None && depth_ == (object_ == ObjectKind::Zst ? 3u : 4u); }
  // The items of "patches".
  bool inPatchList() const { return inPatches_ && depth_ == 3 && object_ == ObjectKind::None; }

  void zstOrPatchesBad() {
    if (key_ == Role::Zst) zst_ = Objects::Bad;
    if (key_ == Role::Patches) patches_ = Objects::Bad;
  }

  // A value of a key of an offered object: a text (text set), an integer or anything else.
  void objectField(const std::string_view* text, std::int64_t number, bool integer) {
    switch (objectKey_) {
      case Role::Size:
        reading_.sizeValid = integer && number > 0;
        reading_.size = number;
        break;
      case Role::Sha256:
        reading_.sha256 = text != nullptr && isDigest(*text) ? lowerDigest(*text) : std::string();
        break;
      case Role::FromSha256:
        reading_.fromSha256 = text != nullptr && isDigest(*text) ? lowerDigest(*text) : std::string();
        break;
      default:
        break;
    }
  }

  // The offered object just closed; a malformed one leaves its list bad.
  void finishObject() {
    const bool valid = reading_.sizeValid && !reading_.sha256.empty() &&
                       (object_ == ObjectKind::Zst || !reading_.fromSha256.empty());
    EntryObject read{reading_.size, reading_.sha256, object_ == ObjectKind::Patch ? reading_.fromSha256 : std::string()};
    if (object_ == ObjectKind::Zst) {
      zst_ = valid ? Objects::Valid : Objects::Bad;
      zstObject_ = std::move(read);
    } else if (!valid) {
      patches_ = Objects::Bad;
    } else {
      patchList_.push_back(std::move(read));
    }
    object_ = ObjectKind::None;
  }

  // A string as the reader decoded it. raw: it is the body's own bytes, found right after
  // the opening quote where the reader stands (it keeps its place while it reads a string).
  bool checkString(const char* text, rapidjson::SizeType length, bool& raw) {
    const std::size_t quote = stream_.Tell();
    stringStart_ = quote + 1;
    raw = quote < body_.size() && body_[quote] == '"' && stringStart_ + length < body_.size() &&
          body_[stringStart_ + length] == '"' && std::memcmp(body_.data() + stringStart_, text, length) == 0 &&
          std::memchr(body_.data() + stringStart_, '\\', length) == nullptr;
    if (raw) return true;
    // An escaped lone low surrogate decodes to bytes the JSON library refuses.
    for (rapidjson::SizeType i = 0; i + 1 < length; ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (byte == 0xED && next >= 0xA0 && next <= 0xBF) return stop();
    }
    return true;
  }

  bool scalar(std::int64_t value, bool integer) {
    if (depth_ == 0) return stop();  // a document that is not an array
    if (inObject()) {
      objectField(nullptr, value, integer);
      return true;
    }
    if (inPatchList()) patches_ = Objects::Bad;  // an item that is no object
    if (!entryValue()) return true;
    switch (key_) {
      case Role::Size:
        size_ = value;
        break;
      case Role::Mtime:
        mtime_ = value;
        break;
      case Role::Path:
        path_ = Field::Other;
        break;
      case Role::Link:
        link_ = Field::Other;
        break;
      case Role::Sha256:
        sha_ = Field::Other;
        break;
      case Role::Zst:
      case Role::Patches:
        zstOrPatchesBad();
        break;
      case Role::FromSha256:
      case Role::Other:
        break;
    }
    return true;
  }

  bool startContainer(bool object) {
    if (depth_ == kMaxManifestDepth) return stop();  // refused, in the JSON library's reading's words
    if (depth_ == 0) {
      if (object) return stop();
      rootIsArray = true;
    } else if (depth_ == 1) {
      inEntry_ = object;
      if (object) startEntry();
    } else if (entryValue() && key_ == Role::Zst && object) {
      object_ = ObjectKind::Zst;
      reading_.reset();
    } else if (entryValue() && key_ == Role::Patches && !object) {
      patches_ = Objects::Valid;
      inPatches_ = true;
    } else if (entryValue()) {
      // Arrays and objects count as 0 for a number and are of the wrong type for a text.
      scalar(0, false);
    } else if (inPatchList()) {
      if (object) {
        object_ = ObjectKind::Patch;
        reading_.reset();
      } else {
        patches_ = Objects::Bad;
      }
    } else if (inObject()) {
      objectField(nullptr, 0, false);
    }
    ++depth_;
    return true;
  }

  bool endContainer() {
    --depth_;
    if (object_ != ObjectKind::None && depth_ == (object_ == ObjectKind::Zst ? 2u : 3u)) finishObject();
    if (inPatches_ && depth_ == 2) inPatches_ = false;
    if (depth_ == 1 && inEntry_) {
      inEntry_ = false;
      return finishEntry();
    }
    return true;
  }

  void startEntry() {
    path_ = link_ = sha_ = Field::Absent;
    size_ = mtime_ = 0;
    zst_ = patches_ = Objects::Absent;
    patchList_.clear();
    key_ = Role::Other;
    otherElementKey_ = false;
  }

  // The entry as ManifestReader would take it; anything it would refuse or warn about stops.
  bool finishEntry() {
    if (path_ == Field::Other || link_ == Field::Other) return stop();
    if (path_ == Field::Absent && otherElementKey_) return stop();
    if (path_ == Field::Absent || pathLength_ == 0) return true;
    if (sha_ == Field::Other || mtime_ > platform::kMaxUnixSecondsAsFileTime) return stop();
    const bool file = link_ == Field::Absent || linkCopy_.empty();
    // Offers that would be left out with a warning, the warning's text is the JSON library's reading's.
    const bool offers = zst_ != Objects::Absent || patches_ != Objects::Absent;
    if (offers && (sha_ == Field::Absent || !file || zst_ == Objects::Bad || patches_ == Objects::Bad)) return stop();
    if (signed_ && file && (sha_ == Field::Absent || size_ < 0)) return stop();

    ManifestEntryList::Text path;
    if (pathRaw_) {
      path = entries_.bodyText(pathOffset_, pathLength_);
    } else {
      std::replace(pathCopy_.begin(), pathCopy_.end(), '\\', '/');
      path = entries_.ownText(pathCopy_);
    }
    ManifestEntryList::Text sha;
    if (sha_ == Field::Text) sha = shaRaw_ ? entries_.bodyText(shaOffset_, 64) : entries_.ownText(shaCopy_);
    if (!file) std::replace(linkCopy_.begin(), linkCopy_.end(), '\\', '/');
    entries_.add(path, size_, mtime_, sha, file ? std::string_view() : std::string_view(linkCopy_));
    if (offers) {
      std::vector<EntryObject> copies;
      if (zst_ == Objects::Valid) copies.push_back(zstObject_);
      entries_.setObjects(std::move(copies), patchList_);
    }
    return true;
  }

  const std::string& body_;
  const BodyStream& stream_;
  const bool signed_;
  ManifestEntryList& entries_;

  std::size_t depth_ = 0;  // containers open
  bool inEntry_ = false;   // the element of the root open at depth 2 is an object
  Role key_ = Role::Other;
  bool otherElementKey_ = false;  // "rollout", "candidate", "health" or "auto_rollback" among its keys
  std::size_t stringStart_ = 0;

  Field path_ = Field::Absent;
  bool pathRaw_ = false;
  std::size_t pathOffset_ = 0;
  std::size_t pathLength_ = 0;
  std::string pathCopy_;
  Field link_ = Field::Absent;
  std::string linkCopy_;
  Field sha_ = Field::Absent;
  bool shaRaw_ = false;
  std::size_t shaOffset_ = 0;
  std::string shaCopy_;
  std::int64_t size_ = 0;
  std::int64_t mtime_ = 0;

  // The offered objects: each list absent, valid so far or bad (left out with a warning).
  enum class Objects { Absent, Valid, Bad };
  enum class ObjectKind { None, Zst, Patch };
  Objects zst_ = Objects::Absent;
  Objects patches_ = Objects::Absent;
  EntryObject zstObject_;
  std::vector<EntryObject> patchList_;
  bool inPatches_ = false;                 // the "patches" array is open
  ObjectKind object_ = ObjectKind::None;   // the offered object open
  Role objectKey_ = Role::Other;
  ObjectReading reading_;
};

}  // namespace

bool readManifestFast(std::string& body, bool signedManifest, ManifestEntryList& entries) {
  // The reader takes a NUL byte for the end, where the JSON library goes on.
  if (body.empty() || std::memchr(body.data(), '\0', body.size()) != nullptr) return false;
  ManifestEntryList read;
  BodyStream stream(body.data(), body.size());
  FastHandler handler(body, stream, signedManifest, read);
  rapidjson::Reader reader;
  constexpr unsigned kFlags =
      rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
  if (reader.Parse<kFlags>(stream, handler).IsError() || handler.unsure || !handler.rootIsArray) return false;
  read.adoptBody(std::move(body));
  entries = std::move(read);
  return true;
}
