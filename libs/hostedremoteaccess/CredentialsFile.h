#pragma once
// The cloud credentials of a server that has joined the cloud: its
// identity, its team, its plan and the principal it authenticates as, kept
// as a BED map in "CloudCredentials.bed" of a program's persistent store.

#include <cstdint>
#include <memory>

#include "libs/hosted/Bed.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"

namespace hostedremoteaccess {

// The file name the credentials are stored under.
inline constexpr const char* kCredentialsFileName = "CloudCredentials.bed";

struct SCredentialsData {
  struct Team {
    plat::CharArray id;    // "cloud/team-id"
    plat::CharArray name;  // "cloud/team-name"
    // "capsFeatures": the capability features, stored joined with ",".
    plat::StringSet capsFeatures;
  };
  struct Plan {
    int32_t maxServers = -1;      // "cloud/plan-max-servers"
    plat::TimeValue expiry = -1;  // "cloud/plan-expiry"
    bool trial = false;           // "cloud/plan-trial"
    bool entitled = false;        // "cloud/plan-entitled"
  };

  // The empty record: every field absent, nothing required.
  SCredentialsData() = default;
  // The record of a BED map (anything else is BedBadType): the fields its
  // keys hold, then the required ones checked.  A required field missing
  // throws plat::AssertionFail (never the fatal handler), which callers
  // catch like any failure to read the credentials.
  explicit SCredentialsData(hosted::BedValue& value);
  // Wipes the secrets.
  ~SCredentialsData();
  SCredentialsData(const SCredentialsData&) = default;
  SCredentialsData& operator=(const SCredentialsData&) = default;

  // Replaces each field whose key the map holds.  Keys of the wrong BED
  // type are BedBadType; other keys are ignored.
  void fromBed(const hosted::BedMap& map);
  // A new map of the set fields.
  hosted::BedRef toBed() const;

  Team team;
  Plan plan;
  plat::CharArray label;                // "label"
  plat::CharArray serverId;             // "cloud/my-id"
  plat::CharArray serverName;           // "cloud/my-name"
  plat::CharArray serverSecret;         // "cloud/my-secret"
  plat::CharArray principal;            // "cloud/principal"
  plat::CharArray principalPassword;    // "cloud/principal-password"
  plat::TimeValue renewFrom = -1;       // "cloud/principal-renew-from"
  plat::TimeValue lastRenewalTime = 0;  // "cloud/last-renewal-time"
};

// The credentials file in a persistent store.
class CredentialsFile {
 public:
  // The file `fileName` (null: "CloudCredentials.bed") in the store, which
  // the file deletes at the end when it owns it.
  CredentialsFile(os::PersistentStore* store, bool ownsStore, const char* fileName = nullptr);
  // The file at a full path, through a store of its own on the path's
  // directory.
  explicit CredentialsFile(const char* path);
  ~CredentialsFile();
  CredentialsFile(const CredentialsFile&) = delete;
  CredentialsFile& operator=(const CredentialsFile&) = delete;

  // The file's content decoded as BED; an empty value when the file is
  // absent or cannot be read or decoded (a server that has not joined).
  hosted::BedRef load();
  void save(const hosted::BedValue& value);
  void remove();

  const char* fileName() const noexcept { return fileName_.c_str(); }

 private:
  std::unique_ptr<os::PersistentStore> ownedStore_;
  os::PersistentStore* store_;
  plat::CharArray fileName_;
};

// The one process-wide store, pointed at the configuration directory of
// the named program first when it points elsewhere.  `flag` is part of the
// lookup's design; the configuration directory here has one form for every
// program, so it selects nothing.  Throws when the program has no
// configuration directory (no configuration base is set).
os::PersistentStoreFile& getProgramStore(const char* programName, bool flag = false);

}  // namespace hostedremoteaccess
