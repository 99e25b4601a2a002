#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "update/manifest_elements.h"
#include "update/rollout_offer.h"
#include "update/manifest_entry.h"

// Reads a manifest body into its entries as one stream of parser events, without a tree of the
// whole document: only the keys of one entry that the check reads are kept, and only until that
// entry is read. The outcome is the one a tree of the whole body would give: a malformed
// document fails with the parser's own text, whatever entry failed before the fault; entry
// failures and the warnings of the entries before them count only for a well-formed array.
class ManifestReader {
 public:
  using Json = nlohmann::json;

  // With a key built in (signedManifest), the bytes of every file must be vouched for.
  explicit ManifestReader(bool signedManifest) : signedManifest_(signedManifest) {}

  // Parses `body`; false with errorText when it is not a well-formed array of valid entries.
  // warnings are the texts to log, in the manifest's order, also when the reading failed.
  bool read(const std::string& body, std::vector<ManifestEntry>& entries, std::vector<std::string>& warnings,
            std::string& errorText);
  // The candidate the manifest offers (rollout_offer.h), after a successful read.
  RolloutOffer& rollout() { return elements_->rollout(); }
  // The release a health report names, when the manifest asks for reports; else empty.
  const std::string& healthRelease() const { return elements_->healthRelease(); }
  const AutoRollback& autoRollback() const { return elements_->autoRollback(); }

  // The parser's events (nlohmann's SAX interface).
  bool null() { return value(Json()); }
  bool boolean(bool v) { return value(Json(v)); }
  bool number_integer(Json::number_integer_t v) { return value(Json(v)); }
  bool number_unsigned(Json::number_unsigned_t v) { return value(Json(v)); }
  bool number_float(Json::number_float_t v, const Json::string_t&) { return value(Json(v)); }
  bool string(Json::string_t& v) { return value(Json(std::move(v))); }
  bool binary(Json::binary_t&) { return value(Json()); }
  bool start_object(std::size_t) { return startContainer(Json::object()); }
  bool start_array(std::size_t) { return startContainer(Json::array()); }
  bool end_object() { return endContainer(); }
  bool end_array() { return endContainer(); }
  bool key(Json::string_t& name);
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error);

 private:
  bool value(Json&& v);
  bool startContainer(Json&& container);
  bool endContainer();

  bool signedManifest_;
  bool rootStarted_ = false;
  bool rootIsArray_ = false;
  std::size_t depth_ = 0;      // containers open
  std::size_t skipped_ = 0;    // containers open inside a value nobody reads
  bool skipNextValue_ = false; // the value of a key that the check does not read
  Json element_;               // the keys of the entry being read
  std::vector<Json*> open_;    // the entry and its containers being built, innermost last
  Json* slot_ = nullptr;       // where the value of the last key goes
  std::string parseError_;
  std::optional<ManifestElements> elements_;  // what the entries read add up to
};
