// UpdateChecker::checkManifestSignature: with a public key built in, a manifest counts only
// when the release host also presents its signature and the release is not older than one
// this installation has already accepted.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "trust/accepted_serial.h"
#include "trust/manifest_signature.h"
#include "trust/utc_time.h"
#include "update/http_transfer.h"
#include "wire/server_endpoints.h"
#include "update/update_checker.h"

namespace {

constexpr const char* kManifestFailed = "无法获取更新清单：";
// A signature file is two short lines; anything much longer is not one.
constexpr std::size_t kMaxSignatureBytes = 4096;

}  // namespace

bool UpdateChecker::checkManifestSignature(const std::string& manifest, std::uint64_t& newSerial,
                                           std::string& errorText) {
  newSerial = 0;
  std::vector<ManifestPublicKey> keys;
  if (!parsePublicKeyList(manifestPublicKey, keys)) {
    errorText = std::string(kManifestFailed) + "内置的清单公钥无效";
    return false;
  }

  std::string body;
  Failure transfer;
  if (!httpGetToString(baseUrl + kSignatureEndpoint + "?platform=" + platform, body, transfer, kMaxSignatureBytes)) {
    const bool tooLarge = transfer.kind == FailureKind::tooLarge;
    errorText = std::string(kManifestFailed) + (tooLarge ? "清单签名格式无效（" : "清单签名缺失（") + transfer.text + "）";
    return false;
  }
  ManifestSignature signature;
  std::string reason;
  if (!parseManifestSignature(body, signature, reason)) {
    errorText = std::string(kManifestFailed) + "清单签名格式无效（" + reason + "）";
    return false;
  }
  // Any built-in key will do: a backup key takes over from a lost primary one.
  if (std::none_of(keys.begin(), keys.end(), [&](const ManifestPublicKey& key) {
        return verifyManifestSignature(key, platform, manifest, signature);
      })) {
    errorText = std::string(kManifestFailed) + "清单签名验证失败";
    return false;
  }
  // A host that keeps serving the last signed manifest would otherwise keep every launcher
  // from ever learning of a fix. Only the signed expiry counts, never an unsigned one.
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch()).count();
  if (signature.expires != 0 && now > signature.expires) {
    errorText = std::string(kManifestFailed) + "清单已过期（expires " + formatUtcTime(signature.expires) +
                "；请检查电脑的日期和时间是否正确）";
    return false;
  }

  std::uint64_t accepted = 0;
  std::string stateError;
  if (!readAcceptedSerial(installDir, accepted, stateError)) {
    errorText = kManifestFailed + stateError;
    return false;
  }
  // An older release, even a genuinely signed one, may bring back files with known flaws.
  if (signature.serial < accepted) {
    errorText = std::string(kManifestFailed) + "清单序号低于已接受的序号（收到 " + std::to_string(signature.serial) +
                "，已接受 " + std::to_string(accepted) + "）";
    return false;
  }
  if (signature.serial > accepted) newSerial = signature.serial;
  return true;
}
