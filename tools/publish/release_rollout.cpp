#include "tools/publish/release_rollout.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/environment.h"
#include "tools/publish/site_layout.h"
#include "trust/sha256_hex.h"

namespace publish {

namespace {

using Json = nlohmann::ordered_json;

bool readText(const fs::path& file, std::string& text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool parseArray(const std::string& text, Json& array, std::string& error) {
  array = Json::parse(text, nullptr, false);
  if (array.is_array()) return true;
  error = "a manifest is not a JSON array";
  return false;
}

// Whether `element` is one of the elements without a path that carries `key` ("rollout",
// "candidate", "health", "auto_rollback"): inside a file's element these keys mean nothing,
// as to launchers.
bool isElementOf(const Json& element, const char* key) {
  return element.is_object() && !element.contains("path") && element.contains(key);
}

// `json` with one element {key: value} last, in place of any earlier element of `key`.
bool withElement(const std::string& json, const char* key, Json value, std::string& out, std::string& error) {
  Json array;
  if (!parseArray(json, array, error)) return false;
  Json kept = Json::array();
  for (Json& element : array) {
    if (!isElementOf(element, key)) kept.push_back(std::move(element));
  }
  kept.push_back({{key, std::move(value)}});
  out = kept.dump();
  return true;
}

bool isOffer(const Json& element) { return isElementOf(element, "rollout") || isElementOf(element, "candidate"); }

Json shareJson(double share) {
  if (share == std::floor(share)) return Json(static_cast<std::int64_t>(share));
  return Json(share);
}

}  // namespace

std::string candidatePlatform(const std::string& platform) { return platform + "-candidate"; }

bool parseShare(const std::string& text, double& share) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string decimals = dot == std::string::npos ? "" : text.substr(dot + 1);
  const auto digits = [](const std::string& part) {
    return part.find_first_not_of("0123456789") == std::string::npos;
  };
  if (whole.empty() || whole.size() > 3 || !digits(whole) || !digits(decimals) || decimals.size() > 4 ||
      (dot != std::string::npos && decimals.empty())) {
    return false;
  }
  share = std::stod(text);
  return share >= 0 && share <= 100;
}

bool drawSalt(std::string& salt, std::string& error) {
  unsigned char bytes[32];
  if (const std::error_code failed = platform::systemRandomBytes(bytes, sizeof bytes)) {
    error = "cannot draw a salt: " + failed.message();
    return false;
  }
  salt.clear();
  for (unsigned char byte : bytes) {
    salt += "0123456789abcdef"[byte >> 4];
    salt += "0123456789abcdef"[byte & 15];
  }
  return true;
}

bool rolloutOf(const std::string& json, std::optional<RolloutState>& state, std::string& reason) {
  state.reset();
  Json array;
  if (!parseArray(json, array, reason)) return false;
  for (const Json& element : array) {
    if (!isElementOf(element, "rollout")) continue;
    const Json& rollout = element.at("rollout");
    if (!rollout.is_object() || !rollout.value("release", Json()).is_string() ||
        !rollout.value("share", Json()).is_number() || !rollout.value("salt", Json()).is_string()) {
      reason = "a damaged rollout";
      return false;
    }
    state = RolloutState{rollout.at("release").get<std::string>(), rollout.at("share").get<double>(),
                         rollout.at("salt").get<std::string>()};
  }
  return true;
}

bool readRollout(const fs::path& release, const std::string& platform, std::optional<RolloutState>& state,
                 std::string& error) {
  state.reset();
  std::string text;
  std::error_code ec;
  if (!fs::exists(manifestFile(release, platform), ec)) return true;
  std::string reason;
  if (!readText(manifestFile(release, platform), text)) {
    error = "cannot read " + manifestFile(release, platform).string();
    return false;
  }
  if (rolloutOf(text, state, reason)) return true;
  error = manifestFile(release, platform).string() + ": " + reason;
  return false;
}

bool rolloutPlatforms(const fs::path& release, std::vector<std::string>& platforms, std::string& error) {
  platforms.clear();
  std::error_code ec;
  const std::string suffix = "-candidate";
  for (fs::directory_iterator it(release, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        !it->is_directory(ec)) {
      continue;
    }
    const std::string platform = name.substr(0, name.size() - suffix.size());
    std::optional<RolloutState> state;
    if (!readRollout(release, platform, state, error)) return false;
    if (state) platforms.push_back(platform);
  }
  if (ec) {
    error = "cannot list " + release.string() + ": " + ec.message();
    return false;
  }
  std::sort(platforms.begin(), platforms.end());
  return true;
}

bool rolloutManifest(const std::string& currentJson, const RolloutState& state, const std::string& candidateJson,
                     std::string& json, std::string& error) {
  Json current;
  Json candidate;
  if (!parseArray(currentJson, current, error) || !parseArray(candidateJson, candidate, error)) return false;
  Json out = Json::array();
  for (Json& element : current) {
    if (!isOffer(element)) out.push_back(std::move(element));
  }
  out.push_back({{"rollout", {{"release", state.release}, {"share", shareJson(state.share)}, {"salt", state.salt}}}});
  for (Json& element : candidate) out.push_back({{"candidate", std::move(element)}});
  json = out.dump();
  return true;
}

bool offersCandidate(const std::string& offerJson, const std::string& candidateJson) {
  Json offer;
  Json candidate;
  std::string ignored;
  if (!parseArray(offerJson, offer, ignored) || !parseArray(candidateJson, candidate, ignored)) return false;
  Json offered = Json::array();
  for (Json& element : offer) {
    if (isElementOf(element, "candidate")) offered.push_back(std::move(element.at("candidate")));
  }
  return offered == candidate;
}

bool withHealthRequest(const std::string& json, const std::string& release, std::string& out, std::string& error) {
  return withElement(json, "health", {{"release", release}}, out, error);
}

bool asksForHealth(const std::string& json) {
  const Json array = Json::parse(json, nullptr, false);
  return array.is_array() && std::any_of(array.begin(), array.end(), [](const Json& element) {
           return isElementOf(element, "health");
         });
}

std::string healthReleaseOf(const fs::path& manifest) {
  std::string text;
  if (!readText(manifest, text)) return {};
  const Json array = Json::parse(text, nullptr, false);
  if (!array.is_array()) return {};
  for (const Json& element : array) {
    if (isElementOf(element, "health") && element.at("health").is_object()) {
      const Json release = element.at("health").value("release", Json());
      if (release.is_string()) return release.get<std::string>();
    }
  }
  return {};
}

bool withAutoRollback(const std::string& json, const AutoRollback& rollback, std::string& out, std::string& error) {
  Json asked = {{"release", rollback.release}};
  if (rollback.windowSeconds) asked["window_seconds"] = *rollback.windowSeconds;
  if (rollback.probationStarts) asked["probation_starts"] = *rollback.probationStarts;
  if (rollback.failedStarts) asked["failed_starts"] = *rollback.failedStarts;
  return withElement(json, "auto_rollback", std::move(asked), out, error);
}

std::optional<AutoRollback> autoRollbackOf(const std::string& json) {
  const Json array = Json::parse(json, nullptr, false);
  if (!array.is_array()) return std::nullopt;
  const auto found = std::find_if(array.rbegin(), array.rend(), [](const Json& element) {
    return isElementOf(element, "auto_rollback") && element.at("auto_rollback").is_object();
  });
  if (found == array.rend()) return std::nullopt;
  const Json& asked = found->at("auto_rollback");
  const auto setting = [&](const char* key, std::int64_t high) {
    const Json value = asked.value(key, Json());
    const bool taken = value.is_number_integer() && value.get<std::int64_t>() >= 1 && value.get<std::int64_t>() <= high;
    return taken ? std::optional<int>(value.get<int>()) : std::nullopt;
  };
  const Json release = asked.value("release", Json());
  return AutoRollback{release.is_string() ? release.get<std::string>() : "", setting("window_seconds", kMaxWatchSeconds),
                      setting("probation_starts", kMaxProbationStarts), setting("failed_starts", kMaxProbationStarts)};
}

std::string listedFiles(const fs::path& file) {
  std::string text;
  Json array;
  std::string ignored;
  if (!readText(file, text) || !parseArray(text, array, ignored)) return {};
  Json files = Json::array();
  for (Json& element : array) {
    if (element.is_object() && element.contains("path")) files.push_back(std::move(element));
  }
  return files.dump();
}

bool removePlatformItems(const fs::path& release, const std::string& platform, std::string& error) {
  std::error_code ec;
  for (const std::string& name : {platform, platform + ".json", platform + ".json.sig", platform + ".objects"}) {
    fs::remove_all(release / name, ec);
    if (ec) {
      error = "cannot remove " + (release / name).string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace publish
