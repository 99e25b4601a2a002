#include "update/rollout_offer.h"

#include <cmath>
#include <cstdio>

#include "trust/sha256_hex.h"

bool isReleaseIdText(const std::string& text) {
  return !text.empty() && text.size() <= 64 &&
         text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-") ==
             std::string::npos;
}

std::string candidatePlatformOf(const std::string& platform) { return platform + "-candidate"; }

bool readRolloutSettings(const nlohmann::json& value, RolloutOffer& offer, std::string& reason) {
  if (!value.is_object()) {
    reason = "rollout 不是对象";
    return false;
  }
  const auto release = value.find("release");
  if (release == value.end() || !release->is_string() || !isReleaseIdText(release->get<std::string>())) {
    reason = "release 无效";
    return false;
  }
  // A share is a number with decimals allowed: 0.1 stays 0.1, never 0.
  const auto share = value.find("share");
  if (share == value.end() || !share->is_number() || !std::isfinite(share->get<double>()) ||
      share->get<double>() < 0 || share->get<double>() > 100) {
    reason = "share 应为 0 到 100 的数";
    return false;
  }
  const auto salt = value.find("salt");
  if (salt == value.end() || !salt->is_string() || !isSha256Hex(salt->get_ref<const std::string&>())) {
    reason = "salt 应为 64 位十六进制数";
    return false;
  }
  offer.present = true;
  offer.release = release->get<std::string>();
  offer.share = share->get<double>();
  offer.salt = salt->get<std::string>();
  for (char& c : offer.salt) c = c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
  return true;
}

std::string shareText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", share);
  return text;
}
