#include "libs/hostedremoteaccess/CredentialsFile.h"

#include <climits>
#include <cstring>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"

namespace hostedremoteaccess {

namespace {

constexpr const char* kTeamId = "cloud/team-id";
constexpr const char* kTeamName = "cloud/team-name";
constexpr const char* kLabel = "label";
constexpr const char* kCapsFeatures = "capsFeatures";
constexpr const char* kPlanMaxServers = "cloud/plan-max-servers";
constexpr const char* kPlanExpiry = "cloud/plan-expiry";
constexpr const char* kPlanTrial = "cloud/plan-trial";
constexpr const char* kPlanEntitled = "cloud/plan-entitled";
constexpr const char* kServerId = "cloud/my-id";
constexpr const char* kServerName = "cloud/my-name";
constexpr const char* kServerSecret = "cloud/my-secret";
constexpr const char* kPrincipal = "cloud/principal";
constexpr const char* kPrincipalPassword = "cloud/principal-password";
constexpr const char* kRenewFrom = "cloud/principal-renew-from";
constexpr const char* kLastRenewalTime = "cloud/last-renewal-time";

// The value under key, or null when the map has none.
hosted::BedValue* present(const hosted::BedMap& map, const char* key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : it->value.get();
}

void readText(const hosted::BedMap& map, const char* key, plat::CharArray& field) {
  if (hosted::BedValue* v = present(map, key)) field = plat::CharArray(v->asString().text());
}
void readTime(const hosted::BedMap& map, const char* key, plat::TimeValue& field) {
  if (hosted::BedValue* v = present(map, key)) field = v->asTime().value();
}
void readBool(const hosted::BedMap& map, const char* key, bool& field) {
  if (hosted::BedValue* v = present(map, key)) field = v->asBool().value();
}

}  // namespace

SCredentialsData::SCredentialsData(hosted::BedValue& value) {
  fromBed(value.asMap());
  // Thrown, not handed to the fatal handler: a record that lacks a field
  // is data, and the admin helper reports it like any unreadable file.
  PLAT_REQUIRE_TEXT(serverId && serverName && serverSecret && team.name && team.id && principal && principalPassword &&
                        renewFrom >= 0,
                    "serverId && serverName && serverSecret && team.name && team.id && principal && "
                    "principalPassword && renewFrom >= 0");
}

SCredentialsData::~SCredentialsData() {
  plat::secureFreeStr(serverSecret);
  plat::secureFreeStr(principalPassword);
}

void SCredentialsData::fromBed(const hosted::BedMap& map) {
  readText(map, kTeamId, team.id);
  readText(map, kTeamName, team.name);
  readText(map, kLabel, label);
  if (hosted::BedValue* v = present(map, kCapsFeatures)) {
    // Empty pieces name no feature: an empty text is the empty set.
    team.capsFeatures = plat::splitToSet(v->asString().text(), ',');
    team.capsFeatures.erase(plat::CharArray(""));
  }
  if (hosted::BedValue* v = present(map, kPlanMaxServers)) {
    const int64_t n = v->asInt().value();
    plan.maxServers = static_cast<int32_t>(n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : n);
  }
  readTime(map, kPlanExpiry, plan.expiry);
  readBool(map, kPlanTrial, plan.trial);
  readBool(map, kPlanEntitled, plan.entitled);
  readText(map, kServerId, serverId);
  readText(map, kServerName, serverName);
  readText(map, kServerSecret, serverSecret);
  readText(map, kPrincipal, principal);
  readText(map, kPrincipalPassword, principalPassword);
  readTime(map, kRenewFrom, renewFrom);
  readTime(map, kLastRenewalTime, lastRenewalTime);
}

hosted::BedRef SCredentialsData::toBed() const {
  plat::LinkedPtr<hosted::BedMap> map(new hosted::BedMap);
  auto text = [&map](const char* key, const plat::CharArray& field) {
    if (field) map->setString(key, field.get());
  };
  text(kServerId, serverId);
  text(kServerName, serverName);
  text(kServerSecret, serverSecret);
  text(kTeamId, team.id);
  text(kTeamName, team.name);
  map->setBool(kPlanTrial, plan.trial);
  if (plan.expiry >= 0) map->setTime(kPlanExpiry, plan.expiry);
  map->setBool(kPlanEntitled, plan.entitled);
  if (plan.maxServers >= 0) map->setInt(kPlanMaxServers, plan.maxServers);
  text(kPrincipal, principal);
  text(kPrincipalPassword, principalPassword);
  if (renewFrom >= 0) map->setTime(kRenewFrom, renewFrom);
  text(kLabel, label);
  plat::DString features;
  plat::joinStrings(features, team.capsFeatures.begin(), team.capsFeatures.end(), ",");
  map->setString(kCapsFeatures, features.c_str());
  if (lastRenewalTime >= 0) map->setTime(kLastRenewalTime, lastRenewalTime);
  return map;
}

// ---- CredentialsFile ----

CredentialsFile::CredentialsFile(os::PersistentStore* store, bool ownsStore, const char* fileName)
    : ownedStore_(ownsStore ? store : nullptr), store_(store), fileName_(fileName ? fileName : kCredentialsFileName) {}

CredentialsFile::CredentialsFile(const char* path)
    : ownedStore_(new os::PersistentStoreFile(plat::dirName(path).get())),
      store_(ownedStore_.get()),
      fileName_(plat::baseName(path)) {}

CredentialsFile::~CredentialsFile() = default;

hosted::BedRef CredentialsFile::load() {
  // The file holds the server's secrets: its bytes are wiped when done.
  plat::Buffer bytes(0, true);
  if (!store_->read(fileName_.get(), bytes)) return hosted::BedRef();
  try {
    hosted::BedReader reader(bytes.count(), bytes.data());
    return hosted::BedValue::decode(reader, nullptr, true);
  } catch (const plat::Exception&) {
    // An unreadable file is a server that has not joined; callers say so.
    return hosted::BedRef();
  }
}

void CredentialsFile::save(const hosted::BedValue& value) {
  plat::Buffer bytes = hosted::BedValue::encodeToBuffer(value);
  bytes.setSecure(true);
  store_->write(fileName_.get(), bytes);
}

void CredentialsFile::remove() { store_->remove(fileName_.get()); }

// ---- The program store ----

os::PersistentStoreFile& getProgramStore(const char* programName, bool /*flag*/) {
  plat::CharArray dir = os::getConfigDir(programName);
  if (!dir) throw plat::ExceptionFmt("No configuration directory for %s", programName ? programName : "(null)");
  // Never destroyed: one store for the whole process, as its holders expect.
  static os::PersistentStoreFile* const store = new os::PersistentStoreFile(dir.get());
  if (std::strcmp(store->dir(), dir.get()) != 0) store->setDir(dir.get());
  return *store;
}

}  // namespace hostedremoteaccess
