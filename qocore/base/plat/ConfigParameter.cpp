#include "qocore/base/plat/ConfigParameter.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

namespace {

PLAT_LOG_SOURCE(paramLog, "ConfigParameter");

bool sameValue(bool a, bool b) noexcept { return a == b; }
bool sameValue(int a, int b) noexcept { return a == b; }
bool sameValue(const String& a, const String& b) noexcept { return strCompare(a.get(), b.get()) == 0; }
bool sameValue(const MBuf<unsigned char>& a, const MBuf<unsigned char>& b) noexcept {
  return a.count() == b.count() && (a.count() == 0 || std::memcmp(a.data(), b.data(), a.count()) == 0);
}

}  // namespace

// ---- ConfigParameter ----

ConfigParameter::ConfigParameter(const char* name, ParamDescription description, bool hidden, Configuration* conf,
                                 const char* flags)
    : conf_(conf ? conf : &Configuration::global()),
      next_(nullptr),
      name_(name),
      desc_(description.text()),
      locDesc_(description.key()),
      hidden_(hidden) {
  PLAT_ASSERT(name);
  PLAT_ASSERT_TEXT(desc_ || locDesc_, "desc || locDesc");
  setFlags(flags);
  next_ = conf_->link(this);
}

ConfigParameter::ConfigParameter(const ConfigParameter& from, Configuration& conf)
    : conf_(&conf),
      next_(nullptr),
      hidden_(from.hidden_),
      flags_(from.flags_),
      ownName_(from.name_),
      ownDesc_(from.desc_),
      ownLocDesc_(from.locDesc_) {
  name_ = ownName_.get();
  desc_ = ownDesc_.get();
  locDesc_ = ownLocDesc_.get();
  next_ = conf_->link(this);
}

ConfigParameter::~ConfigParameter() = default;

bool ConfigParameter::setIntValue(int, int) { return false; }

int ConfigParameter::getIntValue() const { return 0; }

CharArray ConfigParameter::formatInt(int value) const { return DString::format("%d", value); }

const char* ConfigParameter::getDescription() const noexcept {
  // A key is answered in the current locale; a missing one is logged and
  // stands for itself.
  return desc_ ? desc_ : loc::translate(locDesc_, __FILE__, __LINE__);
}

CharArray ConfigParameter::getDefaultStr() const {
  PLAT_ASSERT(hasValueAt(kDefault));
  return getValueStrAt(kDefault);
}

bool ConfigParameter::isHidden() const noexcept { return hidden_ || std::strcmp(typeName(), "binary") == 0; }

void ConfigParameter::setFlags(const char* list) {
  flags_.clear();
  CharArrayList names;
  strSplitList(list, ',', names);
  for (CharArray& flag : names) {
    if (*flag.c_str()) flags_.insert(std::move(flag));
  }
}

bool ConfigParameter::hasFlag(const char* flag) const noexcept { return flags_.find(flag) != flags_.end(); }

bool ConfigParameter::acceptsPriority(int priority) const noexcept {
  return priority < kPolicy || !hasFlag("noPolicy");
}

bool ConfigParameter::resetToDefault(bool notifyCallbacks) {
  bool removed = false;
  for (const auto& [priority, text] : getAllValues()) {
    if (priority > kDefault) {
      unsetParam(priority, false);
      removed = true;
    }
  }
  if (removed && notifyCallbacks) notify(kDefault);
  return removed;
}

int ConfigParameter::notifyIfDefault() {
  int priority = getPriority();
  if (priority > kDefault) return priority;
  notify(kDefault);
  return kDefault;
}

void ConfigParameter::copyValues(const ConfigParameter& other) {
  TextValues theirs = other.getAllValues();
  for (const auto& [priority, text] : getAllValues()) {
    if (!theirs.contains(priority)) unsetParam(priority, true);
  }
  // Texts that a parameter of the same type wrote always parse again.
  for (const auto& [priority, text] : theirs) (void)setParam(text.get(), priority);
}

void ConfigParameter::addCallback(ParameterChangedCallback* callback) { callbacks_.push_back(callback); }

void ConfigParameter::removeCallback(ParameterChangedCallback* callback) {
  auto it = std::find(callbacks_.begin(), callbacks_.end(), callback);
  if (it == callbacks_.end()) return;
  if (notifying_ > 0) {
    *it = nullptr;
  } else {
    callbacks_.erase(it);
  }
}

void ConfigParameter::notify(int priority) {
  struct Depth {
    explicit Depth(ConfigParameter& p) : p(p) { ++p.notifying_; }
    ~Depth() {
      if (--p.notifying_ == 0) std::erase(p.callbacks_, nullptr);
    }
    ConfigParameter& p;
  } depth(*this);
  // By index: a callback may add others, which then hear this change too.
  for (size_t i = 0; i < callbacks_.size(); ++i) {
    if (ParameterChangedCallback* callback = callbacks_[i]) callback->parameterChanged(this, priority);
  }
}

void ConfigParameter::logSet(int priority) const {
  int level = priority == kDefault ? LogSrc::kVerbose : LogSrc::kDebug;
  if (!conf_->logChanges() || level > paramLog().level()) return;
  paramLog().write(level, "set %s(%s) to %s, priority %d", name_, typeName(), getValueStrAt(priority).c_str(),
                   priority);
}

void ConfigParameter::logUnset(int priority) const {
  if (!conf_->logChanges() || LogSrc::kDebug > paramLog().level()) return;
  // The text at the priority in force rather than getValueStr, so a binary
  // value (perhaps a secret) shows as "<binary>".
  int now = getPriority();
  paramLog().write(LogSrc::kDebug, "unset %s(%s) priority %d, now %s, priority %d", name_, typeName(), priority,
                   getValueStrAt(now).c_str(), now);
}

ConfigParameter* ConfigParameter::adoptClone(ConfigParameter* copy) {
  copy->conf_->own(std::unique_ptr<ConfigParameter>(copy));
  return copy;
}

// ---- TypedParameter ----

template <typename T>
TypedParameter<T>::TypedParameter(const char* name, ParamDescription desc, T def, bool hidden, Configuration* conf,
                                  const char* flags)
    : ConfigParameter(name, desc, hidden, conf, flags) {
  values_.emplace(kDefault, std::move(def));
}

template <typename T>
TypedParameter<T>::TypedParameter(const TypedParameter& from, Configuration& conf)
    : ConfigParameter(from, conf), values_(from.values_) {}

template <typename T>
void TypedParameter<T>::unsetParam(int priority, bool notifyCallbacks) {
  if (priority == kDefault) return;
  auto it = values_.find(priority);
  if (it == values_.end()) return;
  values_.erase(it);
  logUnset(priority);
  if (notifyCallbacks) notify(priority);
}

template <typename T>
CharArray TypedParameter<T>::getValueStr() const {
  return textOf(getValue());
}

template <typename T>
int TypedParameter<T>::getPriority() const {
  return values_.rbegin()->first;
}

template <typename T>
bool TypedParameter<T>::hasValueAt(int priority) const {
  return values_.contains(priority);
}

template <typename T>
CharArray TypedParameter<T>::getValueStrAt(int priority) const {
  auto it = values_.find(priority);
  return it == values_.end() ? CharArray() : textOf(it->second);
}

template <typename T>
ConfigParameter::TextValues TypedParameter<T>::getAllValues() const {
  TextValues texts;
  for (const auto& [priority, value] : values_) texts.emplace(priority, textOf(value));
  return texts;
}

template <typename T>
bool TypedParameter<T>::setValue(const T& value, int priority) {
  if (!acceptsPriority(priority)) return false;
  auto it = values_.find(priority);
  if (it != values_.end()) {
    if (sameValue(it->second, value)) return true;
    it->second = value;
  } else {
    values_.emplace(priority, value);
  }
  logSet(priority);
  notify(priority);
  return true;
}

template <typename T>
CharArray TypedParameter<T>::textOf(const T& value) const {
  if constexpr (std::is_same_v<T, bool>) {
    return CharArray(value ? "1" : "0");
  } else if constexpr (std::is_same_v<T, int>) {
    return formatInt(value);
  } else if constexpr (std::is_same_v<T, String>) {
    return value;
  } else {
    return binToHex(value.count(), value.data());
  }
}

template class TypedParameter<bool>;
template class TypedParameter<int>;
template class TypedParameter<String>;
template class TypedParameter<MBuf<unsigned char>>;

// ---- BoolParameter ----

BoolParameter::BoolParameter(const char* name, ParamDescription desc, bool def, bool hidden, Configuration* conf,
                             const char* flags)
    : TypedParameter(name, desc, def, hidden, conf, flags) {}

bool BoolParameter::setParam(const char* text, int priority) {
  // A bare "-Name" on the command line arrives without a value.
  if (!text) return setValue(true, priority);
  if (std::strcmp(text, "1") == 0 || strcasecmp(text, "on") == 0 || strcasecmp(text, "true") == 0 ||
      strcasecmp(text, "yes") == 0) {
    return setValue(true, priority);
  }
  if (std::strcmp(text, "0") == 0 || strcasecmp(text, "off") == 0 || strcasecmp(text, "false") == 0 ||
      strcasecmp(text, "no") == 0) {
    return setValue(false, priority);
  }
  paramLog().error("Bool parameter %s: invalid value '%s'", getName(), text);
  return false;
}

ConfigParameter* BoolParameter::clone(Configuration& conf) const { return adoptClone(new BoolParameter(*this, conf)); }

// ---- IntParameter ----

IntParameter::IntParameter(const char* name, ParamDescription desc, int def, int minValue, int maxValue, bool hidden,
                           Configuration* conf, const char* flags)
    : TypedParameter(name, desc, def, hidden, conf, flags), min_(minValue), max_(maxValue) {}

bool IntParameter::setParam(const char* text, int priority) {
  // C notation, the whole text, within 32 bits.
  const char* cursor = text;
  int32_t value;
  if (!parseInt(value, cursor, 0) || *cursor) return false;
  return setIntValue(value, priority);
}

bool IntParameter::setIntValue(int value, int priority) {
  return value >= min_ && value <= max_ && setValue(value, priority);
}

ConfigParameter* IntParameter::clone(Configuration& conf) const { return adoptClone(new IntParameter(*this, conf)); }

// ---- EnumParameter ----

namespace {

int countNames(const char* const* names) noexcept {
  int n = 0;
  while (names && names[n]) ++n;
  return n;
}

// The index of the first name equal to text ignoring case, or -1.
int findName(const char* const* names, const char* text) noexcept {
  if (!text) return -1;
  for (int i = 0; names && names[i]; ++i) {
    if (strcasecmp(names[i], text) == 0) return i;
  }
  return -1;
}

}  // namespace

EnumParameter::EnumParameter(const char* name, ParamDescription desc, const char* def, const char* const* names,
                             bool hidden, Configuration* conf, const char* flags)
    : IntParameter(name, desc, std::max(findName(names, def), 0), 0, countNames(names) - 1, hidden, conf, flags),
      names_(names) {}

EnumParameter::EnumParameter(const EnumParameter& from, Configuration& conf) : IntParameter(from, conf) {
  for (int i = 0; from.names_ && from.names_[i]; ++i) ownNames_.emplace_back(from.names_[i]);
  for (const CharArray& n : ownNames_) ownNameList_.push_back(n.get());
  ownNameList_.push_back(nullptr);
  names_ = ownNameList_.data();
}

bool EnumParameter::setParam(const char* text, int priority) {
  int index = findName(names_, text);
  return index >= 0 && setIntValue(index, priority);
}

ConfigParameter* EnumParameter::clone(Configuration& conf) const { return adoptClone(new EnumParameter(*this, conf)); }

CharArray EnumParameter::formatInt(int value) const {
  if (value < 0 || value >= countNames(names_)) return IntParameter::formatInt(value);
  return CharArray(names_[value]);
}

// ---- StringParameter ----

StringParameter::StringParameter(const char* name, ParamDescription desc, const char* def, bool hidden,
                                 Configuration* conf, const char* flags)
    : TypedParameter(name, desc, String(def), hidden, conf, flags) {
  PLAT_ASSERT_MSG(def, "Default value <null> for %s not allowed", name);
}

bool StringParameter::setParam(const char* text, int priority) { return setValue(text, priority); }

bool StringParameter::setValue(const char* value, int priority) {
  if (!value) return false;
  if (!isValidUtf8(value)) throw BadUtf8("Bad UTF-8 string for %s", getName());
  return TypedParameter::setValue(String(value), priority);
}

ConfigParameter* StringParameter::clone(Configuration& conf) const {
  return adoptClone(new StringParameter(*this, conf));
}

// ---- S64Parameter ----

namespace {
constexpr char kS64Prefix[] = "int64:";
constexpr size_t kS64PrefixLen = sizeof kS64Prefix - 1;
constexpr size_t kS64TextLen = kS64PrefixLen + 16;

// Reads the 16 digits after the prefix; false at a non-hex character.
bool decodeS64(const char* text, uint64_t* value) noexcept {
  uint64_t acc = 0;
  for (size_t i = kS64PrefixLen; i < kS64TextLen; ++i) {
    if (!hexDigitValue(text[i], &acc)) return false;
  }
  *value = acc;
  return true;
}
}  // namespace

S64Parameter::S64Parameter(const char* name, ParamDescription desc, int64_t def, bool hidden, Configuration* conf,
                           const char* flags)
    : TypedParameter(name, desc, format(def), hidden, conf, flags) {}

String S64Parameter::format(int64_t value) {
  return DString::format("%s%016llx", kS64Prefix, static_cast<unsigned long long>(value));
}

bool S64Parameter::setParam(const char* text, int priority) {
  if (!text) return false;
  if (startsWith(text, kS64Prefix) && std::strlen(text) == kS64TextLen) {
    uint64_t ignored;
    return decodeS64(text, &ignored) && TypedParameter::setValue(String(text), priority);
  }
  MBuf<unsigned char> bytes;
  if (!hexToBuffer(text, bytes) || bytes.count() != 8) return false;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
  return setValue(static_cast<int64_t>(value), priority);
}

bool S64Parameter::setValue(int64_t value, int priority) { return TypedParameter::setValue(format(value), priority); }

int64_t S64Parameter::getValue() const noexcept {
  // Only the canonical shape is ever stored.
  uint64_t value = 0;
  decodeS64(TypedParameter::getValue().c_str(), &value);
  return static_cast<int64_t>(value);
}

ConfigParameter* S64Parameter::clone(Configuration& conf) const { return adoptClone(new S64Parameter(*this, conf)); }

// ---- BinaryParameter ----

BinaryParameter::BinaryParameter(const char* name, ParamDescription desc, int count, const unsigned char* bytes,
                                 bool hidden, Configuration* conf, const char* flags)
    : TypedParameter(name, desc, MBuf<unsigned char>(bytes, count), hidden, conf, flags) {}

bool BinaryParameter::setParam(const char* text, int priority) {
  MBuf<unsigned char> bytes;
  return hexToBuffer(text, bytes) && setValue(bytes, priority);
}

CharArray BinaryParameter::getValueStrAt(int) const { return CharArray("<binary>"); }

ConfigParameter* BinaryParameter::clone(Configuration& conf) const {
  return adoptClone(new BinaryParameter(*this, conf));
}

bool BinaryParameter::getBinary(MBuf<unsigned char>& out) const {
  out = getValue();
  return out.secure();
}

bool BinaryParameter::setValue(int count, const unsigned char* bytes, int priority) {
  return setValue(MBuf<unsigned char>(bytes, count), priority);
}

}  // namespace plat
