#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Where everything of a published site lives:
//
//   SITE/releases/<id>/<platform>/...        the files of one platform, laid out as installed
//   SITE/releases/<id>/<platform>.json       that platform's manifest
//   SITE/releases/<id>/<platform>.json.*     files that travel with the manifest (a signature)
//   SITE/current -> releases/<id>            the release the server answers with
//   SITE/serial                              the highest serial ever signed with (site_serial.h)
//   SITE/rollout-history.txt                 when each share of a rollout took effect (rollout_history.h)
//
// A release holds every platform of the site, so switching `current` switches the manifest,
// everything beside it and the files in one rename. Names starting with "." are work in
// progress and are never served: releases/.partial-<id> (a release being written),
// releases/.removing-<id> (one being deleted), .current-<id> (the next `current` link).
// SITE/.publish.lock is what a running publish or rollback holds locked (site_lock.h); it is
// neither a release nor a leftover, and stays. Nor are SITE/serial, its temporary
// SITE/.serial.new and SITE/rollout-history.txt. Servers are given SITE/current, so none of
// these is ever served.
namespace publish {

namespace fs = std::filesystem;

struct SiteLayout {
  fs::path site;

  fs::path releasesDir() const { return site / "releases"; }
  fs::path releaseDir(const std::string& id) const { return releasesDir() / id; }
  fs::path partialDir(const std::string& id) const { return releasesDir() / (".partial-" + id); }
  fs::path removingDir(const std::string& id) const { return releasesDir() / (".removing-" + id); }
  fs::path currentLink() const { return site / "current"; }
  fs::path nextCurrentLink(const std::string& id) const { return site / (".current-" + id); }
  fs::path lockFile() const { return site / ".publish.lock"; }
  fs::path serialFile() const { return site / "serial"; }
  fs::path serialTempFile() const { return site / ".serial.new"; }
  // The text stored in `current`: relative, so that the site can be moved as a whole.
  static std::string currentTarget(const std::string& id) { return "releases/" + id; }
};

fs::path platformTree(const fs::path& release, const std::string& platform);
fs::path manifestFile(const fs::path& release, const std::string& platform);

// Whether an item directly inside a release belongs to `platform`: its tree, its manifest
// and the files named after the manifest ("windows", "windows.json", "windows.json.sig").
bool belongsToPlatform(const std::string& itemName, const std::string& platform);

// Platform names are what the server accepts: [a-z0-9_-]+.
bool isPlatformName(const std::string& name);

// A release id is one directory name that is not work in progress: [A-Za-z0-9_.-]+, not
// starting with ".".
bool isReleaseId(const std::string& id);

// The finished releases, oldest first (ids sort by time).
bool listReleaseIds(const SiteLayout& layout, std::vector<std::string>& ids, std::string& error);

// The id `current` points at; empty when the site has no `current` yet. False when
// `current` exists but is not a link of this layout.
bool currentReleaseId(const SiteLayout& layout, std::string& id, std::string& error);

// A new id from the UTC time, "YYYYMMDD-HHMMSS-NNN", NNN one past the highest of that second.
std::string newReleaseId(const SiteLayout& layout);

}  // namespace publish
